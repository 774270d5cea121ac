// The PTZ test's settings files (interval, given times) and the given-times
// check that reads them.
#include <cstddef>
#include <cstdint>

#include <optional>
#include <string>
#include "fuzz/support/fuzz_support.hpp"

#include "daemon/schedule.hpp"
#include "lib/web/ptz_test.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = trelvik::fuzz::text(data, size);
  (void)trelvik::ptz_test_parse_interval(text);
  const std::optional<std::string> times = trelvik::ptz_test_parse_given_times(text);
  (void)trelvik::given_times_contain(text, "12:00");
  trelvik::GivenTimesState state;
  (void)trelvik::given_times_check(state, 0, times, "12:00");
  return 0;
}
