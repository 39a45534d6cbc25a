// The engine's one representation of a position: signed decimal degrees with
// a name and a description. Every value object that carries a position holds
// one and forwards its location methods to it.
#pragma once

#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// A position in signed decimal degrees with a name and a description.
class CLocationObject : public com::ComClass<CLocationObject, ILocationObject> {
 public:
  HRESULT STDMETHODCALLTYPE GetLatitudeHemisphere(LatitudeHemisphere* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLatitudeHemisphere(LatitudeHemisphere newVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeHemisphere(LongitudeHemisphere* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLongitudeHemisphere(LongitudeHemisphere newVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitudeDegrees(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitudeMinutes(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitudeSeconds(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLatitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeDegrees(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeMinutes(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitudeSeconds(double* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLongitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) override;
  HRESULT STDMETHODCALLTYPE SetDescription(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetName(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE SetLocation(ILocationObject* other) override;
  HRESULT STDMETHODCALLTYPE SetLatitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE SetLongitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE IsValid(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLocation(ILocationObject** pVal) override;
  HRESULT STDMETHODCALLTYPE GetLatitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetLongitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistance(ILocationObject* to, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE GetBearingDegrees(ILocationObject* to, SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceDescription(ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                         IDescriptionConfigurationObject* config,
                                                         BSTR* pVal) override;

 private:
  // Language texts read here.
  static constexpr UINT kTextNoDirection = 20169;        // same place, no direction
  static constexpr UINT kTextNoPosition = 20734;         // one of the two positions unknown
  static constexpr UINT kTextPositionUnknown = 20178;
  static constexpr UINT kTextNameNoPosition = 20179;     // $N: the target's position unknown
  static constexpr UINT kTextNameOwnPositionUnknown = 20180;
  static constexpr UINT kTextNameDescriptionHere = 22000;
  static constexpr UINT kTextNameHere = 22001;
  static constexpr UINT kTextHere = 22002;
  static constexpr UINT kTextDistanceDirection = 22003;
  static constexpr UINT kTextNameDescriptionDistanceDirection = 22004;
  static constexpr UINT kTextNameDescriptionDirectionFirst = 22005;
  static constexpr UINT kTextNameDistanceDirection = 22006;
  static constexpr UINT kTextNameDirectionFirst = 22007;
  static constexpr UINT kTextNameDescriptionOwnPositionUnknown = 22010;

  // What a distance-and-heading sentence tells besides distance and direction.
  struct SentenceParts {
    bool name = false;
    bool description = false;
    bool compass = false;
    bool directionFirst = false;
  };

  // A text about `to` for the caller: the "position unknown" text when either
  // position is not valid, else what `words` (utility, latitude, longitude of
  // `to`) says.
  template <class Words>
  HRESULT SpeakAbout(ILocationObject* to, BSTR* pVal, Words words);
  // The distance-and-heading sentence of `to` seen from here.
  HRESULT DistanceAndHeadingText(SHORT currentHeading, ILocationObject* to, SentenceParts parts, BSTR* pVal);

  // Reads the other object's position; its failure is passed on.
  static HRESULT ReadPosition(ILocationObject* to, double* latitude, double* longitude);
  // The great-circle distance to a position in nautical miles.
  double DistanceNmTo(double latitude, double longitude) const;

  double m_dLatitude = 0.0;
  double m_dLongitude = 0.0;
  com::Bstr m_bstrName;
  com::Bstr m_bstrDescription;
};

namespace vov {

// (0, 0) is the "no position" value; any other pair is a position.
[[nodiscard]] bool IsValidPosition(double latitude, double longitude);

// A great-circle distance as the location object hands it out: whole metres
// (truncated) for the system unit Metric (0), whole feet for every other unit.
// -1 when the distance is not a number.
[[nodiscard]] LONG DistanceInUnits(double nmi, Units units);

}  // namespace vov
