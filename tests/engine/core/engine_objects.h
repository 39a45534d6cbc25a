// What the tests of the engine's classes (linked against the engine) share:
// an owner of one reference, and a new object of an engine class made
// directly (not through the registry) into one.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "platform/com/owners.h"

template <class T>
using Held = std::unique_ptr<T, com::Releaser>;

// A new object of engine class T holding one reference; the test fails when
// it cannot be made.
template <class T>
Held<T> Make() {
  T* object = nullptr;
  EXPECT_EQ(T::CreateObject(&object), S_OK);
  return Held<T>(object);
}
