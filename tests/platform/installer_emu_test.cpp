// installer-emu, the emulated installer's admin command, run as a person runs it: a product
// database made by msitools' msibuild (an independent tool) is installed, listed and
// queried; bad input gets one line on standard error and changes nothing.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/msi_tables.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using namespace platform;
using testing_support::ProgramResult;
using testing_support::ScratchDir;

constexpr char kProduct[] = "{6F1C8A2E-5A1B-4C3D-9E8F-00000000B111}";

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class InstallerEmuTest : public ::testing::Test {
 protected:
  ProgramResult Emu(const std::vector<std::string>& arguments) {
    return testing_support::RunProgram(SPSETUP_INSTALLER_EMU, arguments,
                                       {{"EMU_INSTALLER_ROOT", Root()}});
  }
  std::string Root() const { return Scratch.Join("root"); }

  // A product database built by msibuild from a Property table in archive text.
  std::string BuildWithMsibuild(const std::string& name, const std::string& propertyRows) {
    Scratch.WriteFile("Property.idt",
                      "Property\tValue\ns72\tl0\nProperty\tProperty\n" + propertyRows);
    std::string package = Scratch.Join(name);
    ProgramResult built = testing_support::RunProgram(
        "/usr/bin/msibuild", {package, "-i", Scratch.Join("Property.idt")});
    EXPECT_EQ(built.ExitCode, 0) << built.Output;
    built = testing_support::RunProgram("/usr/bin/msibuild",
                                        {package, "-s", "Kyro Suite", "Kyro", "Intel;1031",
                                         "{AAAAAAAA-1111-4000-8000-000000000001}"});
    EXPECT_EQ(built.ExitCode, 0) << built.Output;
    return package;
  }

  // Every file under the root with its content: the whole state of the service.
  std::map<std::string, std::string> State() const {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(Root())) return files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(Root())) {
      if (!item.is_regular_file()) continue;
      std::ifstream in(item.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      files[item.path().string()] = content.str();
    }
    return files;
  }

  ScratchDir Scratch;
};

const char kRows[] =
    "ProductCode\t{6F1C8A2E-5A1B-4C3D-9E8F-00000000B111}\n"
    "ProductVersion\t5.0.60.2\n"
    "ProductName\tKyro Suite 5\n"
    "ProductLanguage\t1031\n"
    "Manufacturer\tKyro\n";

TEST_F(InstallerEmuTest, MsibuildProductInstallsAndShowsItsProperties) {
  std::string package = BuildWithMsibuild("kyro.msi", kRows);
  ProgramResult installed = Emu({"install", package});
  ASSERT_EQ(installed.ExitCode, 0) << installed.Output;

  ProgramResult listed = Emu({"list"});
  EXPECT_EQ(listed.ExitCode, 0) << listed.Output;
  std::string cached = Root() + "/cache/" + kProduct + ".msi";
  EXPECT_EQ(listed.Output, std::string(kProduct) +
                               "\tstate=5\tVersionString=5.0.60.2\tProductName=Kyro Suite 5"
                               "\tLanguage=1031\tLocalPackage=" +
                               cached + "\n");
  for (auto [property, value] :
       {std::pair{"VersionString", "5.0.60.2"}, std::pair{"ProductName", "Kyro Suite 5"},
        std::pair{"Language", "1031"}}) {
    ProgramResult info = Emu({"info", kProduct, property});
    EXPECT_EQ(info.ExitCode, 0) << info.Output;
    EXPECT_EQ(info.Output, std::string(value) + "\n");
  }
  // rows shows a table of the cached database as it is now.
  ProgramResult rows = Emu({"rows", kProduct, "Property"});
  EXPECT_EQ(rows.ExitCode, 0) << rows.Output;
  EXPECT_EQ(rows.Output.rfind("Property\tValue\n", 0), 0u) << rows.Output;
  EXPECT_NE(rows.Output.find("\nProductVersion\t5.0.60.2\n"), std::string::npos) << rows.Output;
  // The cache holds a copy of the package: the original may go.
  std::filesystem::remove(package);
  EXPECT_EQ(testing_support::ReadRows(cached,
                                      "SELECT Value FROM Property WHERE Property = "
                                      "'ProductVersion'"),
            (std::vector<std::vector<std::string>>{{"5.0.60.2"}}));

  testing_support::ScopedEnv root("EMU_INSTALLER_ROOT", Root());
  EXPECT_EQ(MsiQueryProductStateW(Wide(kProduct).c_str()), INSTALLSTATE_DEFAULT);
  EXPECT_EQ(MsiQueryProductStateW(u"{6F1C8A2E-5A1B-4C3D-9E8F-00000000B112}"), INSTALLSTATE_UNKNOWN);

  ProgramResult removed = Emu({"uninstall", kProduct});
  EXPECT_EQ(removed.ExitCode, 0) << removed.Output;
  EXPECT_EQ(MsiQueryProductStateW(Wide(kProduct).c_str()), INSTALLSTATE_UNKNOWN);
  EXPECT_FALSE(std::filesystem::exists(cached));
  EXPECT_EQ(Emu({"list"}).Output, "");
}

TEST_F(InstallerEmuTest, RelativeRootRegistersAnAbsoluteLocalPackage) {
  std::string package = BuildWithMsibuild("kyro.msi", kRows);
  ProgramResult installed =
      testing_support::RunProgram(SPSETUP_INSTALLER_EMU, {"install", package},
                                  {{"EMU_INSTALLER_ROOT", "root"}}, Scratch.Path());
  ASSERT_EQ(installed.ExitCode, 0) << installed.Output;
  EXPECT_EQ(Emu({"info", kProduct, "LocalPackage"}).Output,
            Root() + "/cache/" + kProduct + ".msi\n");
}

TEST_F(InstallerEmuTest, AdvertisedInstall) {
  ProgramResult installed = Emu({"install", BuildWithMsibuild("kyro.msi", kRows), "--advertise"});
  ASSERT_EQ(installed.ExitCode, 0) << installed.Output;
  testing_support::ScopedEnv root("EMU_INSTALLER_ROOT", Root());
  EXPECT_EQ(MsiQueryProductStateW(Wide(kProduct).c_str()), INSTALLSTATE_ADVERTISED);
  EXPECT_EQ(Emu({"info", kProduct, "State"}).Output, "1\n");
}

TEST_F(InstallerEmuTest, SetAndFailChangeTheEntry) {
  ASSERT_EQ(Emu({"install", BuildWithMsibuild("kyro.msi", kRows)}).ExitCode, 0);
  EXPECT_EQ(Emu({"set", kProduct, "VersionString", "5.1.8.0"}).ExitCode, 0);
  EXPECT_EQ(Emu({"set", kProduct, "Note", "two words\tand a tab"}).ExitCode, 0);
  EXPECT_EQ(Emu({"info", kProduct, "VersionString"}).Output, "5.1.8.0\n");
  EXPECT_EQ(Emu({"info", kProduct, "Note"}).Output, "two words\tand a tab\n");
  EXPECT_EQ(Emu({"fail", kProduct, "1603"}).ExitCode, 0);
  EXPECT_NE(Emu({"list"}).Output.find("(next configuration: 1603)"), std::string::npos);
}

TEST_F(InstallerEmuTest, BadInputChangesNothing) {
  ASSERT_EQ(Emu({"install", BuildWithMsibuild("kyro.msi", kRows)}).ExitCode, 0);
  const std::map<std::string, std::string> before = State();
  std::string noVersion = BuildWithMsibuild("noversion.msi",
                                            "ProductCode\t{6F1C8A2E-5A1B-4C3D-9E8F-00000000B222}"
                                            "\nProductName\tX\nProductLanguage\t1033\n");
  std::string badCode = BuildWithMsibuild(
      "badcode.msi",
      "ProductCode\tKYRO\nProductVersion\t1.0\nProductName\tX\nProductLanguage\t1033\n");
  testing_support::PatchFacts patchFacts;
  patchFacts.Targets = kProduct;
  ASSERT_TRUE(testing_support::MakePatchPackage(Scratch.Join("patch.msp"), patchFacts));
  std::string text = Scratch.WriteFile("notes.txt", "no database");
  const std::vector<std::vector<std::string>> commands = {
      {"install", text},
      {"install", Scratch.Join("missing.msi")},
      {"install", noVersion},
      {"install", badCode},
      {"install", Scratch.Join("patch.msp")},
      {"install", Scratch.Join("kyro.msi")},  // already registered
      {"install", Scratch.Join("kyro.msi"), "--advertised"},
      {"uninstall", "{6F1C8A2E-5A1B-4C3D-9E8F-00000000B999}"},
      {"uninstall", "KYRO"},
      {"info", kProduct, "NoSuchProperty"},
      {"info", "{6F1C8A2E-5A1B-4C3D-9E8F-00000000B999}", "VersionString"},
      {"set", kProduct, "Bad=Name", "x"},
      {"set", "{6F1C8A2E-5A1B-4C3D-9E8F-00000000B999}", "VersionString", "1"},
      {"fail", kProduct, "not-a-number"},
      {"fail", kProduct, "-5"},
      {"fail", kProduct, " 5"},
      {"fail", kProduct, "+5"},
      {"fail", kProduct, "4294967296"},
      {"rows", kProduct, "NoSuchTable"},
      {"rows", kProduct, "Property` WHERE `Value"},
      {"rows", "{6F1C8A2E-5A1B-4C3D-9E8F-00000000B999}", "Property"},
      {"frobnicate"},
      {},
  };
  for (const auto& command : commands) {
    ProgramResult result = Emu(command);
    std::string shown = command.empty() ? "(none)" : command[0];
    EXPECT_NE(result.ExitCode, 0) << shown;
    // One line, and it says who speaks.
    EXPECT_EQ(result.Output.rfind("installer-emu: ", 0), 0u) << result.Output;
    EXPECT_EQ(std::count(result.Output.begin(), result.Output.end(), '\n'), 1) << result.Output;
    EXPECT_EQ(State(), before) << shown;
  }
}

}  // namespace

namespace {

// What killed commits, installs and uninstalls leave in the state is removed when
// installer-emu next changes it; what is live (an open database's commit directory, a
// registered product's package) stays.
TEST_F(InstallerEmuTest, LeftoversOfInterruptedWorkAreRemovedAndLiveFilesKept) {
  testing_support::ProductFacts facts;
  facts.ProductCode = kProduct;
  ASSERT_TRUE(testing_support::MakeProductDatabase(Scratch.Join("product.msi"), facts));
  ASSERT_EQ(Emu({"install", Scratch.Join("product.msi")}).ExitCode, 0);
  const std::string cache = Root() + "/cache";
  const std::string cached = cache + "/" + kProduct + ".msi";
  // A database held open for a commit, in this process: its commit directory is live.
  testing_support::ScopedEnv root("EMU_INSTALLER_ROOT", Root());
  InstallerHandleHolder open;
  ASSERT_EQ(MsiOpenDatabaseW(Wide(cached).c_str(), MSIDBOPEN_TRANSACT, open.Receive()),
            ERROR_SUCCESS);
  std::vector<std::string> live = testing_support::EntryNames(cache);
  ASSERT_EQ(live.size(), 2u);
  // The leftovers: a commit directory nobody holds, with its output; a commit file of the
  // earlier layout; unfinished copies; the package of a product that is not registered.
  const std::string orphanCommit = cache + "/." + kProduct + ".msi.commit-AbC123";
  std::filesystem::create_directory(orphanCommit);
  std::filesystem::copy_file(cached, orphanCommit + "/" + kProduct + ".msi");
  std::filesystem::copy_file(cached, cache + "/." + kProduct + ".msi.commit-Old123");
  std::filesystem::copy_file(cached, cache + "/" + kProduct + ".msi.new-Xy12Zq");
  std::filesystem::copy_file(cached, cache + "/{6F1C8A2E-5A1B-4C3D-9E8F-00000000B222}.msi");
  std::ofstream(Root() + "/products/" + kProduct + ".product.new-Qq34Rt") << "half";

  ProgramResult set = Emu({"set", kProduct, "Note", "x"});
  ASSERT_EQ(set.ExitCode, 0) << set.Output;
  EXPECT_EQ(testing_support::EntryNames(cache), live);
  EXPECT_EQ(testing_support::EntryNames(Root() + "/products"),
            std::vector<std::string>{std::string(kProduct) + ".product"});
  // The live database still commits.
  EXPECT_EQ(MsiDatabaseCommit(open.Get()), ERROR_SUCCESS);
}

}  // namespace
