// The edge of a COM method: no C++ exception may leave one, so a method that
// runs code which can throw (containers, strings, formatting) runs it through
// Guarded, which turns an escaping exception into a result code.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "platform/com/types.h"

namespace com {

// Runs `body`, which answers an HRESULT, and answers what it answers; an
// exception escaping it becomes E_OUTOFMEMORY (std::bad_alloc) or E_FAIL
// (anything else). What the body changed before it threw stays changed: a
// method sets its out-parameters to their empty values before it calls this
// and writes them as the body's last, non-throwing step, and keeps its object
// in a state that its later calls and its destructor can handle at every
// point where the body may throw.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
  static_assert(std::is_convertible_v<std::invoke_result_t<Body&&>, HRESULT>, "the body answers an HRESULT");
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace com
