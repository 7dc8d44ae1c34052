#include "products/version.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using Quad = std::array<int, 4>;

Quad AsArray(const VersionQuad& quad) {
  return {quad.Components[0], quad.Components[1], quad.Components[2], quad.Components[3]};
}

struct ParseCase {
  std::u16string Text;
  Quad Expected;
};

// Each row catches one wrong rule: a component taken without a "." after it, the fourth
// not taking the whole rest, commas, the numeric reading, the cut to 16 bits after the
// clamp (an unclamped 2147483648 would give 0, an unclamped -2147483649 65535).
TEST(ParseVersionTest, FollowsTheComponentRules) {
  const ParseCase cases[] = {
      {u"5.2.0.0", {5, 2, 0, 0}},
      {u"5,1,8,0", {5, 1, 8, 0}},
      {u"5.1,8.0", {5, 1, 8, 0}},
      {u"5.0.60", {5, 0, 0, 0}},  // the third piece has no "." after it
      {u"5.2", {5, 0, 0, 0}},
      {u"5.2.0", {5, 2, 0, 0}},
      {u"123456", {0, 0, 0, 0}},
      {u"", {0, 0, 0, 0}},
      {u"1.2.3.4.5", {1, 2, 3, 4}},
      {u"1.2.3.", {1, 2, 3, 0}},
      {u".1.2.3", {0, 1, 2, 3}},
      {u"1..3.4", {1, 0, 3, 4}},
      {u"65537.65536.1.-1", {1, 0, 1, 65535}},
      {u"2147483647.2147483648.4294967297.99999999999999999999", {65535, 65535, 65535, 65535}},
      {u"-2147483648.-2147483649.-2147483647.-99999999999999999999", {0, 0, 1, 0}},
      {u" \t5.\n+6.\v\f\r-0.  7", {5, 6, 0, 7}},
      {u"5a.6 1.x9.8-2", {5, 6, 0, 8}},
      {u"+.-.+-1.--2", {0, 0, 0, 0}},
      {u"abc.def.ghi.jkl", {0, 0, 0, 0}},
      {u"\u0665.1.2.3", {0, 1, 2, 3}},  // only the digits 0 to 9 count
  };
  for (const ParseCase& row : cases) {
    std::string shown(row.Text.begin(), row.Text.end());
    EXPECT_EQ(AsArray(ParseVersion(row.Text)), row.Expected) << "text \"" << shown << "\"";
  }
}

TEST(VersionsEqualTest, NeedsAllFourComponents) {
  EXPECT_TRUE(VersionsEqual(ParseVersion(u"5.1.8.0"), ParseVersion(u"5,1,8,0")));
  EXPECT_TRUE(VersionsEqual(ParseVersion(u"65537.0.0.0"), ParseVersion(u"1.0.0.0")));
  for (const char16_t* other : {u"6.1.8.0", u"5.2.8.0", u"5.1.9.0", u"5.1.8.1"}) {
    EXPECT_FALSE(VersionsEqual(ParseVersion(u"5.1.8.0"), ParseVersion(other)));
  }
}

struct ClassifyCase {
  std::u16string Installed;
  std::u16string Target;
  std::u16string List;
  Applicability Expected;
};

const char* Name(Applicability verdict) {
  switch (verdict) {
    case Applicability::UpToDate:
      return "UpToDate";
    case Applicability::Applicable:
      return "Applicable";
    case Applicability::TargetListed:
      return "TargetListed";
    case Applicability::NotApplicable:
      return "NotApplicable";
  }
  return "?";
}

TEST(ClassifyInstalledVersionTest, WalksTheListInOrder) {
  const std::u16string shippedTarget = u"5.2.0.0";
  const std::u16string shippedList = u"5.0.60.2,5.1.8.0,";
  const ClassifyCase cases[] = {
      // The shipped versions.
      {u"5.2.0.0", shippedTarget, shippedList, Applicability::UpToDate},
      {u"5.2.0", shippedTarget, shippedList, Applicability::UpToDate},
      {u"5.1.8.0", shippedTarget, shippedList, Applicability::Applicable},
      {u"5,1,8,0", shippedTarget, shippedList, Applicability::Applicable},
      {u"5.0.60.2", shippedTarget, shippedList, Applicability::Applicable},
      {u"5.1.9.0", shippedTarget, shippedList, Applicability::NotApplicable},
      // "5.2" is 5.0.0.0: not the target, and not in the list either.
      {u"5.2", shippedTarget, shippedList, Applicability::NotApplicable},
      // Only entries a "," follows are examined.
      {u"5.1.8.0", shippedTarget, u"5.0.60.2,5.1.8.0", Applicability::NotApplicable},
      {u"5.1.8.0", shippedTarget, u"5.1.8.0", Applicability::NotApplicable},
      {u"5.1.8.0", shippedTarget, u"", Applicability::NotApplicable},
      // The first entry naming either version decides; the installed one is asked first.
      {u"5.1.8.0", shippedTarget, u"5.2.0.0,5.1.8.0,", Applicability::TargetListed},
      {u"5.1.8.0", shippedTarget, u"5.1.9.0,5.2.0,5.1.8.0,", Applicability::TargetListed},
      {u"5.1.8.0", shippedTarget, u"5.1.8.0,5.2.0.0,", Applicability::Applicable},
      {u"5.1.8.0", shippedTarget, u"5.2.0.0", Applicability::NotApplicable},
      // Empty entries are 0.0.0.0, and so is an empty installed version.
      {u"", shippedTarget, u",5.1.8.0,", Applicability::Applicable},
      {u"", shippedTarget, u"5.1.8.0,,", Applicability::Applicable},
      {u"5.1.8.0", shippedTarget, u",,5.1.8.0,", Applicability::Applicable},
      // Compared as numbers, never as text.
      {u"65537.1.8.0", shippedTarget, u"1.1.8.0,", Applicability::Applicable},
      {u"5.1.8.0", u"65541.2.0.0", u"5.2,5.2.0.0,", Applicability::TargetListed},
      {u"", u"", u"", Applicability::UpToDate},
      {u"none", u"0.0.0.0", u"", Applicability::UpToDate},
  };
  for (const ClassifyCase& row : cases) {
    ProductRecord record;
    record.InstalledVersion = row.Installed;
    record.TargetVersion = row.Target;
    record.ApplicableVersions = row.List;
    ProductRecord before = record;
    Applicability verdict = ClassifyInstalledVersion(record);
    EXPECT_STREQ(Name(verdict), Name(row.Expected))
        << "installed \"" << std::string(row.Installed.begin(), row.Installed.end())
        << "\" target \"" << std::string(row.Target.begin(), row.Target.end()) << "\" list \""
        << std::string(row.List.begin(), row.List.end()) << "\"";
    EXPECT_EQ(record.ApplicableVersions, before.ApplicableVersions);
  }
}

}  // namespace
