// Version texts as four numbers, and whether the patch applies to an installed version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "products/product_record.h"

// Four 16-bit components, first to fourth as written. Only equality is ever asked of them.
struct VersionQuad {
  std::uint16_t Components[4] = {0, 0, 0, 0};
};

// The verdict on one installed product.
enum class Applicability {
  UpToDate,       // the installed version is the target version
  Applicable,     // the list names the installed version before the target version
  TargetListed,   // the list names the target version before the installed version
  NotApplicable,  // no examined entry of the list names either of them
};

// The value of a text as the C runtime's wide atoi gives it: leading white space, an
// optional sign, decimal digits up to the first non-digit (none gives 0), clamped to the
// signed 32-bit range.
std::int32_t TextToInteger(std::u16string_view text);

// Parses a version text ("," counts as "."). The first three components are taken only
// when a "." follows each; the fourth is the numeric value of the whole rest. So "5.0.60"
// gives 5.0.0.0 and "1.2.3.4.5" gives 1.2.3.4. Each value is read like a C integer
// (leading white space, a sign, decimal digits, clamped to 32 bits) and cut to its low
// 16 bits. Never fails: text without digits gives zeros.
VersionQuad ParseVersion(std::u16string text);

// True when all four components are equal.
bool VersionsEqual(const VersionQuad& first, const VersionQuad& second);

// Judges `record` by its InstalledVersion, TargetVersion and ApplicableVersions: UpToDate
// when installed equals target; else the first entry of ApplicableVersions that a ","
// follows and that equals the installed version (Applicable) or the target version
// (TargetListed) decides; NotApplicable when none does. Text after the last "," is never
// looked at. Reads the record only.
Applicability ClassifyInstalledVersion(const ProductRecord& record);
