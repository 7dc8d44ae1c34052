// Reading a product entry of the emulated installer against the plainest reading of the
// same bytes (lines split at tabs into name and value pairs), at two sizes: the ratio to the
// peer stays flat as the entry grows four times when the parse is linear, and would grow
// with the size were it quadratic.
//
//   bench_product_entry [PROPERTIES]     (default 100000; also measured at a quarter)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/installer_registry.h"

namespace {

namespace emu = platform::posix;

std::string EntryText(int properties) {
  emu::ProductEntry entry;
  entry.Code = "{6F1C8A2E-5A1B-4C3D-9E8F-000000000001}";
  for (int i = 0; i < properties; ++i) {
    entry.Properties.emplace_back("Property" + std::to_string(i), "value\t" + std::to_string(i));
  }
  return emu::FormatProduct(entry);
}

// The peer: the same lines cut at their tabs, nothing checked or decoded.
std::size_t PlainRead(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    std::size_t tab = line.find('\t');
    std::size_t second = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
    pairs.emplace_back(line.substr(0, tab), second == std::string_view::npos
                                                ? std::string_view()
                                                : line.substr(second + 1));
    start = end + 1;
  }
  return pairs.size();
}

template <typename Work>
double MedianMicroseconds(int rounds, Work work) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    times.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int properties = argc > 1 ? std::atoi(argv[1]) : 100000;
  if (properties < 4) properties = 4;
  double ratios[2] = {};
  int index = 0;
  for (int size : {properties / 4, properties}) {
    const std::string text = EntryText(size);
    double parse = MedianMicroseconds(9, [&] {
      emu::ProductEntry entry;
      std::string problem;
      return emu::ParseProduct(text, entry, problem) &&
             entry.Properties.size() == static_cast<std::size_t>(size);
    });
    double plain = MedianMicroseconds(9, [&] { return PlainRead(text) > 0; });
    if (parse < 0) {
      std::fprintf(stderr, "bench_product_entry: the entry did not parse\n");
      return 1;
    }
    ratios[index++] = parse / plain;
    std::printf("%7d properties (%8zu bytes): parse %9.0f us, plain read %9.0f us, ratio %.2f\n",
                size, text.size(), parse, plain, parse / plain);
  }
  std::printf("ratio growth for 4 times the size: %.2f (1 for linear, 4 for quadratic)\n",
              ratios[1] / ratios[0]);
  return 0;
}
