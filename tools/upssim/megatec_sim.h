// The Megatec dialect as a UPS speaks it, for the variants 1, 3, 7 and 8 of the model database.
//
// Queries are printable ASCII ending with CR; the answers this UPS gives end with CR:
//   "Q1" (variants 1, 3, 7) / "QS" (variant 8), the status:
//       "(MMM.M NNN.N PPP.P QQQ RR.R S.SS TT.T b7b6b5b4b3b2b1b0"
//       input V, input fault V, output V, load %, input Hz, battery V, then the temperature
//       (variant 1: the frequency again), then the status bits: b7 utility fail, b6 battery low,
//       b5 bypass/boost active, b4 UPS failed, b3 standby type, b2 test in progress,
//       b1 shutdown active, b0 beeper on. Variant 8 carries the load field too; its peers ignore it.
//   "I"  -> "#Company_Name    Model      Version   " (fields of 15, 10 and 10 characters), or the text
//           the control interface or the command line gave (SimState::ident)
//   "F"  -> "#VVV.V CCC VV.VV FF.F" (rated voltage, current, battery voltage, frequency)
// and without answer:
//   "T"  10 s battery test (b2 set for kShortTestMs)    "CT" cancel the test
//   "Q"  toggle the beeper                              "C"  cancel a shutdown
//   "S<n>[R<m>]" shutdown in n minutes (1 or 2 digits, or ".d"), restart after m (1 to 4 digits)
// Every other query gets no answer, as a UPS that does not know it stays silent. The status query of
// the other variants (QS to a Q1 unit and the reverse) counts as unknown.
//
// Framing: a byte that is neither printable nor CR drops what came before it (noise); a lone CR
// (the wake-up) does nothing; a query that grows beyond kMaxQueryBytes without CR is discarded up to
// its CR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/upssim/sim_protocol.h"
#include "tools/upssim/sim_state.h"

namespace keep::tools {

inline constexpr char kMegatecEnd = '\r';
inline constexpr char kMegatecStatusMarker = '(';
inline constexpr char kMegatecInfoMarker = '#';
inline constexpr std::size_t kMaxQueryBytes = 64;
// The longest identification text the "I" answer may be given (SimState::ident).
inline constexpr std::size_t kMaxIdentBytes = 64;

bool IsMegatecVariant(int protocol);

// "Q1", or "QS" for variant 8.
std::string_view MegatecStatusQuery(int variant);

// The answers, each with its marker and final CR.
std::string MegatecStatusAnswer(const SimState& state, int variant, int64_t now_ms);
// SimState::ident with its CR, or while that is empty the variant's own text.
std::string MegatecIdentAnswer(const SimState& state, int variant);
std::string MegatecIdentAnswer(int variant);
// True for a text an "I" answer can carry: 1 to kMaxIdentBytes printable ASCII bytes (blanks too).
bool IsValidMegatecIdent(std::string_view text);
std::string MegatecRatingAnswer(const SimState& state, int variant);

class MegatecSim final : public SimProtocol {
 public:
  // `variant` must satisfy IsMegatecVariant.
  explicit MegatecSim(int variant);

  std::vector<SimExchange> OnBytes(std::string_view in, SimState& state, int64_t now_ms) override;
  void Reset() override;

 private:
  std::string Answer(std::string_view query, SimState& state, int64_t now_ms) const;

  int variant_;
  std::string pending_;    // printable bytes of the query being received
  bool skipping_ = false;  // an overlong query is being dropped up to its CR
};

}  // namespace keep::tools
