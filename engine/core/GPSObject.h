// The receiver's fix as the engine keeps it: one GPSObject, written by the
// sentence parser on the tick thread and read by the rest of the engine and by
// the user program at any time. Every field sits behind the object's own lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/core/LocationObject.h"
#include "engine/core/ValueForwarding.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

namespace vov {

// The fields of a fix, in the order the engine keeps them. The initial
// values are those of a cleared fix.
struct GPSFix {
  BYTE hasFix = 0;                   // the last $GPRMC status was not "V"
  SHORT heading = -1;                // averaged, degrees 0-359; -1 none
  SHORT instantaneousHeading = -1;   // the last course over ground
  double speed = -1.0;               // miles per hour; -1.0 without a fix
  LONG altitude = -1;                // feet above mean sea level; -1 unknown
  GPSQuality fixQuality = GPSQualityNoGPS;
  LONG ggaQuality = 0;               // $GPGGA fix indicator: 0 invalid, 1 fix, 2 differential, 7 manual/inertial
  LONG gsaMode = 0;                  // $GPGSA fix mode: 1 none, 2 2D, 3 3D
  SHORT satellites = 0;
  double hdop = 50.0;
  double vdop = 50.0;
  double pdop = 50.0;
  SHORT year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;  // UTC of the last $GPRMC
  double estimatedAccuracy = -1.0;   // metres; -1.0 unknown
};

// What the accuracy of a fix is told from.
struct AccuracyState {
  GPSQuality fixQuality = GPSQualityNoGPS;
  double estimatedAccuracy = -1.0;  // metres; -1.0 unknown
  bool differential = false;
  SHORT satellites = 0;
};

// The accuracy of a fix in words, in the system units: no receiver chosen, no
// receiver heard, the accuracy with the satellites in use, or only the
// satellites while there is no fix. Reads the receiver and system settings
// of the Utility (made when there is none); may throw std::bad_alloc.
std::u16string EstimatedAccuracyDescription(const AccuracyState& state);

}  // namespace vov

class CGPSObject : public com::ComClass<CGPSObject, IGPSObject> {
 public:
  HRESULT FinalConstruct();

  HRESULT STDMETHODCALLTYPE GetAltitude(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHeading(HeadingType type, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHeadingDegrees(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSpeed(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetEstimatedAccuracyDescription(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetFixQuality(GPSQuality* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHDOP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetVDOP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfSatellites(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE HasGPSFix(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsDifferentialEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetEstimatedAccuracy(SHORT* pVal) override;
  // The location queries answer from the inner location while holding the
  // lock, so a reader never sees a new latitude with the old longitude.
  VOV_FORWARD_LOCATION_QUERIES(LockedLocation())
  // The heading-relative queries pass the object's own heading.
  HRESULT STDMETHODCALLTYPE GetRelativeHeading(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE IsHeadingValid(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(ILocationObject* to, IDescriptionConfigurationObject* config,
                                                         BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetSpeedDouble(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetInstantaneousHeadingDegrees(SHORT* pVal) override;

  // The engine's own operations on the inner location, after the interface.
  virtual HRESULT GetName(BSTR* pVal);
  virtual HRESULT SetName(BSTR newVal);
  virtual HRESULT GetDescription(BSTR* pVal);
  virtual HRESULT SetLocation(ILocationObject* other);
  virtual HRESULT SetLongitude(double newVal);
  virtual HRESULT SetLatitude(double newVal);

  // The lock that guards the fix and the inner location. Recursive: the
  // engine takes it around a run of changes that call back into the object.
  std::recursive_mutex& Lock() const { return m_lock; }
  // The fix fields; the caller holds Lock().
  vov::GPSFix& Fix() { return m_fix; }
  const vov::GPSFix& Fix() const { return m_fix; }
  // The inner location (never null once constructed); the caller holds Lock().
  ILocationObject* Location() const { return m_pLocation.get(); }
  // Returns every field but the estimated accuracy to its initial value; the
  // position stays. Counts as a change (see Revision()).
  void ResetFix();
  // The fix's revision: it goes up with every change of the fix or the
  // position. Work done on a copy taken outside the lock (the map engine's
  // answer for the street under the fix) is written back only while the
  // revision is still the one read with the copy, so a newer fix is never
  // overwritten by a stale result. Every writer of Fix() or Location() calls
  // MarkChanged() in the same hold of the lock; the setters below and
  // ResetFix() do it themselves. The caller holds Lock().
  std::uint64_t Revision() const { return m_revision; }
  void MarkChanged() { ++m_revision; }

 private:
  // The inner location for one call, with the lock held until the end of
  // the full expression that uses it.
  class LocationHold {
   public:
    explicit LocationHold(const CGPSObject& owner) : m_hold(owner.m_lock), m_location(owner.m_pLocation.get()) {}
    ILocationObject* operator->() const { return m_location; }

   private:
    std::lock_guard<std::recursive_mutex> m_hold;
    ILocationObject* m_location;
  };
  LocationHold LockedLocation() const { return LocationHold(*this); }

  mutable std::recursive_mutex m_lock;
  vov::GPSFix m_fix;
  std::uint64_t m_revision = 0;
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
};

// A snapshot of the fix's state for the user program.
class CGPSStatusObject : public com::ComClass<CGPSStatusObject, IGPSStatusObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetFixQuality(GPSQuality* pVal) override;
  HRESULT STDMETHODCALLTYPE HasGPSFix(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsDifferentialEnabled(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetNumberOfSatellites(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHDOP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetVDOP(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetEstimatedAccuracy(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetEstimatedAccuracyDescription(BSTR* pVal) override;

  // Filled by the engine when it makes the snapshot.
  GPSQuality m_eFixQuality = GPSQualityNoGPS;
  bool m_bHasFix = false;
  bool m_bDifferential = false;
  SHORT m_nSatellites = 0;
  double m_dHDOP = 50.0;
  double m_dVDOP = 50.0;
  double m_dEstimatedAccuracy = -1.0;
};
