// Integer arithmetic of the map-format library: word-pair 64-bit helpers, the
// 64-by-32-bit division, square roots and trigonometry by linear
// interpolation in constant tables, the CRC-16 and the record sort.
//
// The library was written for 32-bit phones, so everything here works on
// 32-bit words: products are built from 16-bit halves and the division runs
// on 16-bit digits. The answers are exact where the interface says so and
// otherwise depend only on the constant tables, never on the platform's
// floating point.
#include "mapengine/format/base/TiMath.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

namespace ti::detail {

// The four function tables below hold f(x) - h^2/12 x f''(x), rounded, where
// h is the table step: linear interpolation between exact values errs by
// h^2/8 x f'' in the middle of a step and not at all at its ends, and this
// shift spreads that error evenly (its mean over a step becomes zero). For the
// sine that raises the entries by about 3.1 parts per million. The end values
// that other code relies on (0, 45 and 90 degrees, 1.0, 2^30 and 2^31) are kept
// exact.

// sin(i x 90/256 degrees) x 2^28, i = 0..256, raised by h^2/12 x sin (h = pi/512)
// so that interpolation errs evenly on both sides; entries 256 and 257 are 2^28.
const std::array<std::uint32_t, 258> kSineTable = {{
    0,         1647094,   3294126,   4941034,   6587757,   8234231,   9880395,   11526187,  13171545,
    14816407,  16460711,  18104396,  19747399,  21389659,  23031113,  24671700,  26311358,  27950026,
    29587641,  31224143,  32859469,  34493557,  36126347,  37757777,  39387785,  41016311,  42643292,
    44268668,  45892377,  47514358,  49134550,  50752892,  52369324,  53983784,  55596211,  57206545,
    58814726,  60420692,  62024383,  63625739,  65224700,  66821205,  68415194,  70006608,  71595385,
    73181467,  74764794,  76345306,  77922944,  79497648,  81069359,  82638018,  84203565,  85765942,
    87325091,  88880951,  90433465,  91982574,  93528221,  95070346,  96608891,  98143800,  99675013,
    101202474, 102726124, 104245907, 105761765, 107273641, 108781478, 110285220, 111784810, 113280191,
    114771307, 116258102, 117740519, 119218504, 120692001, 122160954, 123625307, 125085006, 126539995,
    127990220, 129435627, 130876160, 132311766, 133742391, 135167980, 136588480, 138003838, 139413999,
    140818912, 142218524, 143612781, 145001631, 146385021, 147762901, 149135217, 150501918, 151862953,
    153218271, 154567819, 155911549, 157249408, 158581347, 159907316, 161227264, 162541142, 163848901,
    165150491, 166445863, 167734968, 169017758, 170294185, 171564200, 172827756, 174084805, 175335300,
    176579194, 177816439, 179046990, 180270800, 181487823, 182698012, 183901324, 185097711, 186287130,
    187469535, 188644882, 189813127, 190974225, 192128133, 193274808, 194414206, 195546284, 196671001,
    197788312, 198898177, 200000554, 201095401, 202182676, 203262340, 204334351, 205398668, 206455253,
    207504065, 208545064, 209578212, 210603469, 211620797, 212630157, 213631513, 214624825, 215610056,
    216587170, 217556130, 218516899, 219469441, 220413720, 221349700, 222277347, 223196625, 224107500,
    225009937, 225903903, 226789364, 227666286, 228534636, 229394383, 230245493, 231087934, 231921675,
    232746685, 233562931, 234370384, 235169013, 235958788, 236739680, 237511658, 238274694, 239028759,
    239773825, 240509863, 241236847, 241954748, 242663539, 243363195, 244053688, 244734992, 245407083,
    246069933, 246723520, 247367817, 248002802, 248628449, 249244735, 249851638, 250449133, 251037200,
    251615815, 252184956, 252744603, 253294735, 253835330, 254366368, 254887830, 255399695, 255901945,
    256394559, 256877521, 257350812, 257814413, 258268308, 258712479, 259146910, 259571584, 259986486,
    260391599, 260786908, 261172399, 261548057, 261913868, 262269818, 262615893, 262952082, 263278370,
    263594746, 263901198, 264197714, 264484283, 264760895, 265027538, 265284203, 265530881, 265767561,
    265994235, 266210895, 266417532, 266614139, 266800708, 266977232, 267143704, 267300119, 267446469,
    267582751, 267708958, 267825087, 267931131, 268027089, 268112955, 268188727, 268254402, 268309977,
    268355450, 268390820, 268416085, 268431245, 268435456, 268435456,
}};

// atan(i / 128) in angle units, less h^2/12 x atan'' (h = 1/128); entry 128 is
// exactly 45 degrees.
const std::array<std::uint32_t, 129> kAtanTable = {{
    0,        333769,   667497,   1001143,  1334668,  1668029,  2001188,  2334103,  2666735,  2999044,
    3330989,  3662532,  3993633,  4324253,  4654355,  4983900,  5312850,  5641168,  5968817,  6295761,
    6621964,  6947391,  7272006,  7595775,  7918665,  8240642,  8561675,  8881730,  9200777,  9518785,
    9835724,  10151564, 10466278, 10779837, 11092213, 11403381, 11713314, 12021988, 12329378, 12635460,
    12940211, 13243610, 13545635, 13846265, 14145481, 14443262, 14739592, 15034451, 15327824, 15619693,
    15910043, 16198860, 16486130, 16771838, 17055973, 17338522, 17619475, 17898820, 18176548, 18452649,
    18727115, 18999938, 19271110, 19540625, 19808477, 20074660, 20339169, 20602000, 20863149, 21122612,
    21380388, 21636474, 21890869, 22143570, 22394578, 22643892, 22891513, 23137442, 23381678, 23624225,
    23865084, 24104257, 24341748, 24577559, 24811694, 25044157, 25274952, 25504084, 25731558, 25957378,
    26181550, 26404080, 26624975, 26844239, 27061881, 27277906, 27492322, 27705136, 27916355, 28125987,
    28334039, 28540521, 28745440, 28948804, 29150622, 29350903, 29549655, 29746887, 29942609, 30136829,
    30329557, 30520802, 30710574, 30898882, 31085735, 31271145, 31455120, 31637669, 31818804, 31998534,
    32176869, 32353819, 32529395, 32703605, 32876461, 33047972, 33218149, 33387002, 33554432,
}};

// asin(i / 256) in angle units, less h^2/12 x asin'' (h = 1/256); entry 256 is
// exactly 90 degrees.
const std::array<std::uint32_t, 257> kAsinTable = {{
    0,        166886,   333775,   500669,   667571,   834482,   1001407,  1168347,  1335304,  1502282,
    1669283,  1836310,  2003364,  2170449,  2337568,  2504722,  2671915,  2839149,  3006426,  3173749,
    3341121,  3508545,  3676023,  3843557,  4011151,  4178806,  4346526,  4514313,  4682171,  4850101,
    5018106,  5186189,  5354353,  5522600,  5690933,  5859356,  6027870,  6196478,  6365184,  6533990,
    6702899,  6871913,  7041036,  7210270,  7379619,  7549085,  7718671,  7888380,  8058215,  8228179,
    8398275,  8568506,  8738875,  8909385,  9080039,  9250840,  9421792,  9592897,  9764159,  9935581,
    10107166, 10278917, 10450837, 10622931, 10795201, 10967650, 11140282, 11313100, 11486109, 11659310,
    11832708, 12006307, 12180109, 12354119, 12528340, 12702776, 12877430, 13052307, 13227409, 13402742,
    13578308, 13754112, 13930158, 14106449, 14282990, 14459784, 14636837, 14814151, 14991732, 15169584,
    15347710, 15526116, 15704805, 15883783, 16063054, 16242622, 16422492, 16602669, 16783158, 16963964,
    17145090, 17326543, 17508328, 17690449, 17872913, 18055723, 18238885, 18422406, 18606290, 18790543,
    18975171, 19160179, 19345574, 19531360, 19717545, 19904135, 20091135, 20278552, 20466392, 20654663,
    20843370, 21032520, 21222121, 21412179, 21602701, 21793695, 21985167, 22177126, 22369580, 22562534,
    22755999, 22949982, 23144490, 23339533, 23535119, 23731257, 23927954, 24125222, 24323068, 24521502,
    24720534, 24920174, 25120431, 25321316, 25522839, 25725010, 25927842, 26131344, 26335528, 26540406,
    26745990, 26952291, 27159323, 27367098, 27575628, 27784928, 27995011, 28205891, 28417583, 28630100,
    28843458, 29057673, 29272760, 29488736, 29705617, 29923421, 30142164, 30361866, 30582545, 30804219,
    31026909, 31250635, 31475417, 31701277, 31928237, 32156320, 32385549, 32615948, 32847543, 33080359,
    33314422, 33549760, 33786401, 34024375, 34263712, 34504443, 34746600, 34990217, 35235330, 35481973,
    35730185, 35980004, 36231471, 36484627, 36739517, 36996185, 37254679, 37515047, 37777342, 38041617,
    38307927, 38576331, 38846890, 39119667, 39394731, 39672150, 39951999, 40234355, 40519298, 40806915,
    41097296, 41390535, 41686734, 41985997, 42288438, 42594176, 42903336, 43216054, 43532472, 43852742,
    44177028, 44505505, 44838358, 45175789, 45518014, 45865266, 46217798, 46575882, 46939816, 47309925,
    47686563, 48070118, 48461020, 48859742, 49266809, 49682809, 50108397, 50544315, 50991402, 51450615,
    51923056, 52410000, 52912940, 53433639, 53974208, 54537207, 55125790, 55743921, 56396696, 57090852,
    57835617, 58644218, 59536800, 60546794, 61737268, 63252840, 67108864,
}};

// sqrt(2^30 + j x 2^24) x 2^15, less h^2/12 x sqrt'' (h = 2^24); the ends are
// exactly 2^30 and 2^31.
const std::array<std::uint32_t, 193> kSqrtTable = {{
    1073741824, 1082103253, 1090395192, 1098624551, 1106792725, 1114901061, 1122950853, 1130943352,
    1138879764, 1146761254, 1154588945, 1162363926, 1170087246, 1177759922, 1185382937, 1192957243,
    1200483762, 1207963388, 1215396985, 1222785394, 1230129428, 1237429878, 1244687511, 1251903070,
    1259077281, 1266210844, 1273304444, 1280358744, 1287374391, 1294352013, 1301292221, 1308195612,
    1315062765, 1321894244, 1328690601, 1335452371, 1342180076, 1348874227, 1355535321, 1362163843,
    1368760265, 1375325050, 1381858648, 1388361500, 1394834036, 1401276676, 1407689831, 1414073901,
    1420429278, 1426756347, 1433055482, 1439327050, 1445571409, 1451788911, 1457979899, 1464144709,
    1470283672, 1476397109, 1482485336, 1488548662, 1494587391, 1500601819, 1506592237, 1512558931,
    1518502181, 1524422260, 1530319437, 1536193977, 1542046137, 1547876172, 1553684331, 1559470859,
    1565235994, 1570979973, 1576703026, 1582405382, 1588087262, 1593748887, 1599390470, 1605012223,
    1610614354, 1616197067, 1621760563, 1627305038, 1632830687, 1638337699, 1643826262, 1649296561,
    1654748776, 1660183086, 1665599665, 1670998687, 1676380321, 1681744733, 1687092089, 1692422549,
    1697736273, 1703033418, 1708314137, 1713578584, 1718826906, 1724059252, 1729275766, 1734476591,
    1739661869, 1744831737, 1749986332, 1755125789, 1760250240, 1765359816, 1770454646, 1775534857,
    1780600574, 1785651919, 1790689016, 1795711983, 1800720939, 1805716001, 1810697284, 1815664900,
    1820618962, 1825559580, 1830486864, 1835400919, 1840301854, 1845189771, 1850064774, 1854926965,
    1859776444, 1864613312, 1869437664, 1874249599, 1879049211, 1883836595, 1888611844, 1893375049,
    1898126301, 1902865690, 1907593304, 1912309231, 1917013556, 1921706366, 1926387743, 1931057772,
    1935716534, 1940364110, 1945000581, 1949626026, 1954240524, 1958844151, 1963436984, 1968019098,
    1972590569, 1977151470, 1981701874, 1986241854, 1990771480, 1995290823, 1999799953, 2004298938,
    2008787848, 2013266749, 2017735707, 2022194790, 2026644062, 2031083587, 2035513429, 2039933652,
    2044344318, 2048745488, 2053137224, 2057519585, 2061892633, 2066256425, 2070611021, 2074956478,
    2079292853, 2083620204, 2087938586, 2092248056, 2096548667, 2100840474, 2105123532, 2109397893,
    2113663610, 2117920736, 2122169322, 2126409419, 2130641078, 2134864349, 2139079282, 2143285927,
    2147483648,
}};

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

// ((v - 1) XOR v) is 2^(k+1) - 1 for the lowest set bit k of v; multiplied by
// 0x914C1BAD its top six bits differ for every k, so they index a 64-entry
// table (the other 32 entries are never reached and hold -1).
constexpr std::uint32_t LowestBitSlot(int k) {
  const std::uint32_t mask = k == 31 ? 0xFFFFFFFFu : (std::uint32_t{1} << (k + 1)) - 1;
  return (mask * 0x914C1BADu) >> 26;
}

constexpr std::array<std::int8_t, 64> MakeLowestBitTable() {
  std::array<std::int8_t, 64> table{};
  for (auto& entry : table) entry = -1;
  for (int k = 0; k < 32; ++k) table[LowestBitSlot(k)] = static_cast<std::int8_t>(k);
  return table;
}

constexpr bool LowestBitSlotsDistinct() {
  for (int a = 0; a < 32; ++a)
    for (int b = a + 1; b < 32; ++b)
      if (LowestBitSlot(a) == LowestBitSlot(b)) return false;
  return true;
}
static_assert(LowestBitSlotsDistinct(), "the multiplier must give each bit its own slot");

constexpr std::array<std::uint16_t, 16> MakeRoundBias() {
  std::array<std::uint16_t, 16> table{};
  for (int k = 1; k < 16; ++k) table[k] = static_cast<std::uint16_t>(1u << (k - 1));
  return table;
}

}  // namespace

const std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();
const std::array<std::int8_t, 64> kLowestBit = MakeLowestBitTable();
const std::array<std::uint16_t, 16> kRoundBias = MakeRoundBias();

}  // namespace ti::detail

namespace {

using ti::detail::kAsinTable;
using ti::detail::kAtanTable;
using ti::detail::kRoundBias;
using ti::detail::kSineTable;
using ti::detail::kSqrtTable;

// High word of a x b: the interpolation step (difference x 32-bit fraction).
std::uint32_t MulHigh(std::uint32_t a, std::uint32_t b) {
  TiUx product;
  TiUxMulUlUl(&product, a, b);
  return product.high;
}

// t[i] + (t[i+1] - t[i]) x f / 2^32 for an increasing table.
template <std::size_t N>
std::uint32_t Interpolate(const std::array<std::uint32_t, N>& t, std::uint32_t i, std::uint32_t f) {
  return t[i] + MulHigh(t[i + 1] - t[i], f);
}

std::uint32_t Magnitude(std::int32_t v) {
  return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

// v >> s rounded to nearest (halves up), 1 <= s <= 63, with no intermediate
// overflow.
TiUx ShiftRightRounded(TiUx v, unsigned s) {
  const std::uint32_t halfBit = s - 1 < 32 ? (v.low >> (s - 1)) & 1u : (v.high >> (s - 33)) & 1u;
  TiUx r;
  if (s < 32) {
    r.low = (v.low >> s) | (v.high << (32 - s));
    r.high = v.high >> s;
  } else {
    r.low = v.high >> (s - 32);
    r.high = 0;
  }
  TiUxAddUxUl(&r, r.low, r.high, halfBit);
  return r;
}

// Long division of a 64-bit value by a divisor of 17 to 32 bits, on 16-bit
// digits (Knuth's algorithm D with a two-digit divisor). The quotient has at
// most three digits.
void DivideLong(TiUx* quotient, std::uint32_t* remainder, std::uint32_t low, std::uint32_t high,
                std::uint32_t divisor) {
  constexpr std::uint32_t kBase = 0x10000;
  // Normalise so that the divisor's top digit has its high bit set; the
  // quotient digit estimate is then at most two too large.
  const int shift = std::countl_zero(divisor);  // 0..15
  const std::uint32_t v = divisor << shift;
  const std::uint32_t vn[2] = {v & 0xFFFF, v >> 16};
  const std::uint32_t top = shift ? high >> (32 - shift) : 0;
  const std::uint32_t uHigh = (high << shift) | (shift ? low >> (32 - shift) : 0);
  const std::uint32_t uLow = low << shift;
  std::uint32_t un[5] = {uLow & 0xFFFF, uLow >> 16, uHigh & 0xFFFF, uHigh >> 16, top};
  std::uint32_t q[3] = {0, 0, 0};

  for (int j = 2; j >= 0; --j) {
    const std::uint32_t num = (un[j + 2] << 16) | un[j + 1];
    std::uint32_t qhat = num / vn[1];
    std::uint32_t rhat = num % vn[1];
    // qhat x v0 > base x rhat + u[j] is qhat x divisor > the three digits
    // u[j+2..j]. With a two-digit divisor that compares against the whole
    // divisor, so after at most two corrections qhat is exact and the
    // subtraction below never goes negative (the general algorithm's add-back
    // step cannot happen). Once rhat reaches the base the test cannot hold.
    while (qhat >= kBase || qhat * vn[0] > ((rhat << 16) | un[j])) {
      --qhat;
      rhat += vn[1];
      if (rhat >= kBase) break;
    }
    // Subtract qhat x divisor from the three digits un[j..j+2].
    std::uint32_t borrow = 0;
    for (int i = 0; i < 2; ++i) {
      const std::uint32_t p = qhat * vn[i] + borrow;  // below 2^32: qhat, vn[i] < 2^16
      const std::uint32_t digit = p & 0xFFFF;
      borrow = (p >> 16) + (un[i + j] < digit ? 1u : 0u);
      un[i + j] = (un[i + j] - digit) & 0xFFFF;
    }
    un[j + 2] = (un[j + 2] - borrow) & 0xFFFF;
    q[j] = qhat;
  }
  if (quotient) {
    quotient->low = (q[1] << 16) | q[0];
    quotient->high = q[2];
  }
  if (remainder) *remainder = ((un[1] << 16) | un[0]) >> shift;
}

// Swaps two records of size bytes through a small buffer.
void SwapRecords(unsigned char* a, unsigned char* b, std::size_t size) {
  if (a == b) return;
  unsigned char buffer[64];
  while (size > 0) {
    const std::size_t n = size < sizeof buffer ? size : sizeof buffer;
    std::memcpy(buffer, a, n);
    std::memcpy(a, b, n);
    std::memcpy(b, buffer, n);
    a += n;
    b += n;
    size -= n;
  }
}

}  // namespace

TiUx* TiUxMulUlUl(TiUx* out, std::uint32_t a, std::uint32_t b) {
  if (!out) return nullptr;
  if (a < 0x10000 && b < 0x10000) {
    out->low = a * b;
    out->high = 0;
    return out;
  }
  const std::uint32_t al = a & 0xFFFF, ah = a >> 16, bl = b & 0xFFFF, bh = b >> 16;
  const std::uint32_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
  const std::uint32_t mid = lh + hl;
  const std::uint32_t midCarry = mid < lh ? 0x10000u : 0u;
  const std::uint32_t low = ll + (mid << 16);
  const std::uint32_t lowCarry = low < ll ? 1u : 0u;
  out->low = low;
  out->high = hh + (mid >> 16) + midCarry + lowCarry;
  return out;
}

TiUx* TiUxAddUxUx(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                  std::uint32_t bHigh) {
  if (!out) return nullptr;
  const std::uint32_t low = aLow + bLow;
  out->high = aHigh + bHigh + (low < aLow ? 1u : 0u);
  out->low = low;
  return out;
}

TiUx* TiUxSubUxUx(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                  std::uint32_t bHigh) {
  if (!out) return nullptr;
  out->high = aHigh - bHigh - (aLow < bLow ? 1u : 0u);
  out->low = aLow - bLow;
  return out;
}

TiUx* TiUxAddUxUl(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t b) {
  return TiUxAddUxUx(out, aLow, aHigh, b, 0);
}

TiUx* TiUxSubUxUl(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t b) {
  return TiUxSubUxUx(out, aLow, aHigh, b, 0);
}

TiUx* TiUxAddUlUl(TiUx* out, std::uint32_t a, std::uint32_t b) { return TiUxAddUxUx(out, a, 0, b, 0); }

TiUx* TiQRDivUxUl(TiUx* quotient, std::uint32_t* remainder, std::uint32_t low, std::uint32_t high,
                  std::uint32_t divisor) {
  if (divisor == 0) {
    if (quotient) *quotient = TiUx{0, 0};
    if (remainder) *remainder = 0;
    return quotient;
  }
  if (high == 0) {
    if (quotient) *quotient = TiUx{low / divisor, 0};
    if (remainder) *remainder = low % divisor;
    return quotient;
  }
  if (divisor < 0x10000) {
    // Short division: each partial remainder is below the divisor, so a
    // remainder and the next 16-bit digit always fit 32 bits.
    const std::uint32_t digits[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
    std::uint32_t q[4];
    std::uint32_t rest = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint32_t cur = (rest << 16) | digits[i];
      q[i] = cur / divisor;
      rest = cur % divisor;
    }
    if (quotient) *quotient = TiUx{(q[2] << 16) | q[3], (q[0] << 16) | q[1]};
    if (remainder) *remainder = rest;
    return quotient;
  }
  DivideLong(quotient, remainder, low, high, divisor);
  return quotient;
}

std::uint32_t TiUlRatioUxUx(std::uint32_t nLow, std::uint32_t nHigh, std::uint32_t dLow,
                            std::uint32_t dHigh) {
  if (dLow == 0 && dHigh == 0) return 0;
  if (nHigh > dHigh) return 0xFFFFFFFF;
  TiUx n{nLow, nHigh};
  TiUx d{dLow, dHigh};
  if (dHigh != 0) {
    // Keep d's top 32 bits. Rounding can carry d up to exactly 2^32; one
    // more bit of shift then brings it back into a word.
    unsigned shift = static_cast<unsigned>(TiLog2Ul(dHigh)) + 1;
    TiUx dr = ShiftRightRounded(d, shift);
    if (dr.high != 0) dr = ShiftRightRounded(d, ++shift);
    n = ShiftRightRounded(n, shift);
    d = dr;
  }
  if (n.high != 0) return 0xFFFFFFFF;  // n rounded up to 2^32 >= d
  TiUx q;
  TiQRDivUxUl(&q, nullptr, d.low >> 1, n.low, d.low);
  return q.high != 0 ? 0xFFFFFFFFu : q.low;
}

std::int32_t TiLog2Ul(std::uint32_t v) {
  return v == 0 ? 0 : static_cast<std::int32_t>(std::bit_width(v)) - 1;
}

std::int32_t TiMinBit(std::uint32_t v) {
  if (v == 0) return -1;
  return ti::detail::kLowestBit[(((v - 1) ^ v) * 0x914C1BADu) >> 26];
}

std::uint32_t TiSqrt(std::uint32_t v) {
  if (v == 0) return 0;
  // Scale v by 4^k into [2^30, 2^32), where the table covers sqrt; the root
  // is then 2^k too large and is shifted back with rounding.
  const std::uint32_t k = static_cast<std::uint32_t>(31 - TiLog2Ul(v)) >> 1;
  const std::uint32_t offset = (v << (2 * k)) - 0x40000000u;
  const std::uint32_t root = Interpolate(kSqrtTable, offset >> 24, offset << 8);
  return (root + kRoundBias[k]) >> k;
}

std::uint32_t TiSqrt64(std::uint32_t low, std::uint32_t high) {
  if (high == 0) return (TiSqrt(low) + 0x4000) >> 15;
  // Bring v below 2^32 by an even shift 2k; the root of the rest is
  // sqrt(v) x 2^(15 - k), which must not need a left shift.
  const int k = (TiLog2Ul(high) >> 1) + 1;
  if (k > 15) return 0;  // v >= 2^62
  const std::uint32_t rest = (low >> (2 * k)) | (high << (32 - 2 * k));
  return (TiSqrt(rest) + kRoundBias[15 - k]) >> (15 - k);
}

std::int32_t TiSin(std::uint32_t angle) {
  std::uint32_t a = angle & 0xFFFFFFF;
  bool negative = false;
  switch (a >> 26) {
    case 0:
      break;
    case 1:
      a = 0x8000000 - a;
      break;
    case 2:
      a -= 0x8000000;
      negative = true;
      break;
    default:
      a = 0x10000000 - a;
      negative = true;
      break;
  }
  const auto value = static_cast<std::int32_t>(Interpolate(kSineTable, a >> 18, a << 14));
  return negative ? -value : value;
}

std::int32_t TiAsin(std::int32_t s) {
  if (s >= 0x10000000) return 0x4000000;
  if (s <= -0x10000000) return -0x4000000;
  const std::uint32_t a = Magnitude(s);
  const auto value = static_cast<std::int32_t>(Interpolate(kAsinTable, a >> 20, a << 12));
  return s < 0 ? -value : value;
}

std::uint32_t TiAtanFrac(std::uint32_t f) { return Interpolate(kAtanTable, f >> 25, f << 7); }

std::int32_t TiAtan2(std::int32_t y, std::int32_t x) {
  if (x == 0) return y > 0 ? 0x4000000 : (y == 0 ? 0 : -0x4000000);
  const std::uint32_t ax = Magnitude(x);
  const std::uint32_t ay = Magnitude(y);
  const unsigned octant = (x < 0 ? 1u : 0u) | (y < 0 ? 2u : 0u) | (ax < ay ? 4u : 0u);
  const std::uint32_t big = ax < ay ? ay : ax;
  const std::uint32_t small = ax < ay ? ax : ay;
  // small / big as a rounded 32-bit fraction; equal magnitudes give 2^32.
  TiUx ratio;
  TiQRDivUxUl(&ratio, nullptr, big >> 1, small, big);
  const auto base = static_cast<std::int32_t>(ratio.high != 0 ? kAtanTable[128] : TiAtanFrac(ratio.low));
  std::int32_t angle = 0;
  switch (octant) {
    case 0:
      angle = base;
      break;
    case 1:
      angle = 0x8000000 - base;
      break;
    case 2:
      angle = -base;
      break;
    case 3:
      angle = base - 0x8000000;
      break;
    case 4:
      angle = 0x4000000 - base;
      break;
    case 5:
      angle = base + 0x4000000;
      break;
    case 6:
      angle = base - 0x4000000;
      break;
    default:
      angle = -0x4000000 - base;
      break;
  }
  // A vector just below the negative x axis can round onto it; the range
  // includes +180 degrees, not -180.
  return angle == -0x8000000 ? 0x8000000 : angle;
}

std::uint32_t TiCrc(const void* bytes, const void* mask, std::int32_t length) {
  if (!bytes || length < 1) return 0;
  const auto* data = static_cast<const unsigned char*>(bytes);
  const auto* use = static_cast<const unsigned char*>(mask);
  std::uint32_t crc = 0;
  for (std::int32_t i = 0; i < length; ++i) {
    if (use && use[i] == 0) continue;
    crc = ((crc << 8) ^ ti::detail::kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]) & 0xFFFF;
  }
  return crc;
}

std::int32_t TiSort(void* base, std::int32_t count, std::int32_t size, void* scratch, TiCompareFn compare,
                    void* context) {
  if (!base || !scratch || !compare || count < 0 || size < 0) return kRmfBadArgument;
  if (count == 0 || size == 0) return 1;

  auto* const records = static_cast<unsigned char*>(base);
  const auto width = static_cast<std::size_t>(size);
  const auto at = [&](std::size_t index) { return records + index * width; };
  const auto less = [&](const void* a, const void* b) { return compare(a, b, context) < 0; };

  // Stretches of record indexes, both ends included. The larger part of
  // every partition waits here while the smaller one is sorted, so the stack
  // never holds more than log2(count) entries.
  struct Stretch {
    std::size_t lo;
    std::size_t hi;
  };
  Stretch pending[64];
  int depth = 0;
  std::size_t lo = 0;
  std::size_t hi = static_cast<std::size_t>(count) - 1;

  for (;;) {
    if (hi - lo < 6) {
      // Insertion sort; a record moves only past records it sorts strictly
      // before, so equal records keep their order.
      for (std::size_t i = lo + 1; i <= hi; ++i) {
        std::memcpy(scratch, at(i), width);
        std::size_t j = i;
        while (j > lo && less(scratch, at(j - 1))) {
          std::memcpy(at(j), at(j - 1), width);
          --j;
        }
        if (j != i) std::memcpy(at(j), scratch, width);
      }
      if (depth == 0) return 1;
      --depth;
      lo = pending[depth].lo;
      hi = pending[depth].hi;
      continue;
    }

    // Median of three: afterwards first <= middle <= last, so the end records
    // stop both scans, and the middle one is the pivot.
    const std::size_t mid = lo + (hi - lo) / 2;
    if (less(at(mid), at(lo))) SwapRecords(at(lo), at(mid), width);
    if (less(at(hi), at(mid))) {
      SwapRecords(at(mid), at(hi), width);
      if (less(at(mid), at(lo))) SwapRecords(at(lo), at(mid), width);
    }
    std::memcpy(scratch, at(mid), width);

    // Records before i sort no later than the pivot, records from i on no
    // earlier. The scans are bounded as well, so that a comparison function
    // that contradicts itself cannot lead them outside the stretch; both
    // parts are then still non-empty.
    std::size_t i = lo;
    std::size_t j = hi;
    for (;;) {
      do ++i;
      while (i < hi && less(at(i), scratch));
      do --j;
      while (j > lo && less(scratch, at(j)));
      if (i >= j) break;
      SwapRecords(at(i), at(j), width);
    }

    Stretch left{lo, i - 1};
    Stretch right{i, hi};
    if (left.hi - left.lo > right.hi - right.lo) std::swap(left, right);
    pending[depth++] = right;
    lo = left.lo;
    hi = left.hi;
  }
}
