// Every line a client or a peer sends is unscrambled and split into fields: any bytes must give
// well-formed fields and never crash, and scrambling must stay an exact inverse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/scrambling.h"
#include "common/text_lists.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const std::string plain = keep::UnscrambleText(input);
  Check(plain.size() == size / 2);

  const std::string again = keep::ScrambleText(plain);
  Check(again.size() == plain.size() * 2);
  Check(keep::UnscrambleText(again) == plain);

  keep::TStringList fields;
  keep::SplitText('|', plain, fields, true);
  for (const std::string& field : fields) {
    Check(field.find('|') == std::string::npos);
    Check(keep::TrimBlanks(field) == field);
  }
  // Joined and split again, the fields come back, except that an empty last field reads as none.
  keep::TStringList expected = fields;
  if (!expected.empty() && expected.back().empty()) expected.pop_back();
  keep::TStringList back;
  keep::SplitText('|', keep::JoinText(fields, '|'), back, true);
  Check(back == expected);

  // The raw input, read as text, also splits safely.
  keep::SplitText('|', input, fields, true);
  for (const std::string& field : fields) Check(field.find('|') == std::string::npos);
  return 0;
}
