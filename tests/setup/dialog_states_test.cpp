// The setup dialog's state model, the command line and the texts shown for result codes.
#include <gtest/gtest.h>
#include <windows.h>

#include "setup/dialog_language.h"
#include "setup/dialog_states.h"
#include "setup/error_text.h"
#include "setup/setup_options.h"

namespace {

using namespace setup_dialog;

std::string StringText(int id) {
  char text[512];
  const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof(text));
  return std::string(text, length > 0 ? length : 0);
}

TEST(DialogStatesTest, ButtonTextEnabledFlagAndEndCodeOfEachState) {
  const struct {
    State state;
    bool defer_reboot;
    const char* text;
    bool enabled;
    int end_code;       // pressing the button
    int automatic_end;  // entering the state with auto
    int close_result;   // the close box
  } cases[] = {
      {kReady, false, "OK", true, 0, 0, kEndedCancel},
      {kInstalling, false, "OK", false, 0, 0, 0},
      {kFailed, false, "Close", true, kEndedCancel, 0, kEndedCancel},
      {kComplete, false, "Close", true, kEndedOk, kEndedOk, kEndedCancel},
      {kRestartNeeded, false, "Reboot", true, kEndedRestart, kEndedRestart, kEndedCancel},
      {kRestartNeeded, true, "Close", true, kEndedRestart, kEndedRestart, kEndedCancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << c.state << " deferreboot " << c.defer_reboot);
    const ButtonLook look = ButtonFor(c.state, c.defer_reboot);
    EXPECT_EQ(StringText(look.text), c.text);
    EXPECT_EQ(look.enabled, c.enabled);
    EXPECT_EQ(look.end_code, c.end_code);
    EXPECT_EQ(AutomaticEnd(c.state), c.automatic_end);
    EXPECT_EQ(CloseResult(c.state), c.close_result);
  }
}

TEST(DialogStatesTest, ProgressApproachesTheCeilingAndNeverPassesIt) {
  const struct {
    int position, next;
  } cases[] = {{0, 302}, {302, 595}, {9000, 9021}, {9656, 9657}, {9657, 9657}, {9688, 9688}};
  for (const auto& c : cases) EXPECT_EQ(NextProgress(c.position), c.next) << c.position;
  int position = 0;
  for (int step = 0; step < 10000; ++step) position = NextProgress(position);
  EXPECT_LT(position, kProgressEnd);
  EXPECT_LE(position, kProgressCeiling);
}

TEST(DialogStatesTest, StringTableHoldsTheDialogTexts) {
  EXPECT_EQ(StringText(kStringFailed), "Installation failed: %1\nContext: %2");
  EXPECT_EQ(StringText(kStringRestartNeeded),
            "Automatic stage complete, a reboot is required to complete the installation.");
  EXPECT_EQ(StringText(kStringComplete), "Installation complete.");
  EXPECT_EQ(StringText(kStringInProgress), "Installation in progress...");
  EXPECT_EQ(StringText(kStringCannotClose),
            "You cannot close this windows whilst the installation is in progress. Please wait "
            "for the installation to complete.");
}

TEST(SetupOptionsTest, OptionsAfterSlashOrMinusInAnyCase) {
  const struct {
    const char* line;
    bool valid, automatic, defer_reboot, replace_same_version;
  } cases[] = {
      {"", true, false, false, true},
      {"/auto /deferreboot", true, true, true, true},
      {"/AUTO", true, true, false, true},
      {"-DeferReboot\t-first", true, false, true, true},
      {"/skipinstalled", true, false, false, false},
      {"ignored words /auto", true, true, false, true},
      {"/auto /reboot", false, false, false, true},
      {"-", false, false, false, true},
      {"/autox", false, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    SetupOptions options;
    std::string unknown;
    EXPECT_EQ(ParseSetupOptions(c.line, &options, &unknown), c.valid);
    if (!c.valid) {
      EXPECT_FALSE(unknown.empty());
      continue;
    }
    EXPECT_EQ(options.automatic, c.automatic);
    EXPECT_EQ(options.defer_reboot, c.defer_reboot);
    EXPECT_EQ(options.replace_same_version, c.replace_same_version);
  }
}

TEST(ErrorTextTest, OwnMessagesThenSystemThenCLibraryThenTheNumber) {
  const struct {
    uint32_t code;
    const char* text;
  } cases[] = {
      {0xC004E010, "Source file missing"},
      {0xC004E013, "The driver that is currently installed is newer than this one."},
      {0xC0004008,
       "You do not have administrator rights. You need to be logged on as a user with "
       "administrator privileges in order to continue."},
      {0x00040004, "S_AGAIN"},
      {0xC0040002, "Not found."},
      {0xC007000E, "Out of memory"},
      {0x80041002, "No such file or directory"},
      {0xC00400FF, "Error 0xc00400ff"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorText(static_cast<Result>(c.code)), c.text) << std::hex << c.code;
  }
  const std::string system = ErrorText(static_cast<Result>(0x80070005));
  EXPECT_FALSE(system.empty());
  EXPECT_EQ(system.find("Error 0x"), std::string::npos) << system;
  EXPECT_EQ(system.find('\n'), std::string::npos) << system;
}

// Every language of the message table has every code.
TEST(ErrorTextTest, MessageTableHasSevenLanguages) {
  const LANGID languages[] = {0x409, 0x407, 0x40C, 0x410, 0x411, 0x416, 0xC0A};
  for (LANGID language : languages) {
    for (uint32_t code : {0xC004E010u, 0xC0004008u, 0x00040007u, 0xC007000Eu}) {
      wchar_t text[512] = {};
      const DWORD length =
          FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         code, language, text, 512, nullptr);
      EXPECT_GT(length, 2u) << std::hex << language << " " << code;
      EXPECT_EQ(std::wstring(text).substr(length >= 2 ? length - 2 : 0), L"\r\n");
    }
  }
}

// The dialog takes its texts and its error texts in the language it is given, whatever the
// language Windows would pick; ids and codes a language lacks come from Windows' choice.
TEST(ErrorTextTest, TextsInTheChosenLanguage) {
  HMODULE self = GetModuleHandleA(nullptr);
  const LANGID german = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
  const LANGID french = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
  EXPECT_EQ(LoadStringIn(self, german, kStringClose), "Schlie\xdf" "en");
  EXPECT_EQ(LoadStringIn(self, french, kStringReboot), "Red\xe9marrer");
  EXPECT_EQ(LoadStringIn(self, 0, kStringClose), StringText(kStringClose));
  EXPECT_EQ(LoadStringIn(self, german, 99), "");
  const LANGID languages[] = {0x409, 0x407, 0x40C, 0x410, 0x411, 0x416, 0xC0A};
  for (LANGID language : languages)
    for (int id = kStringOk; id <= kStringInProgress; ++id)
      EXPECT_FALSE(LoadStringIn(self, language, id).empty()) << std::hex << language << " " << id;

  EXPECT_NE(ErrorText(static_cast<Result>(0xC004E010), german),
            ErrorText(static_cast<Result>(0xC004E010), french));
  // A system code our table lacks still reads as text, not as its number.
  EXPECT_EQ(ErrorText(static_cast<Result>(0x80070005), german).find("Error 0x"),
            std::string::npos);
}

}  // namespace
