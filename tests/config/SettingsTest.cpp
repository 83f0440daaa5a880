#include "common/FakePrompter.h"
#include "common/PostedReports.h"
#include "common/SettingsXml.h"
#include "common/TestFiles.h"
#include "config/ConfigTestSupport.h"
#include "config/SettingsFile.h"
#include "config/unBarCfg.h"
#include "config/unPortCfg.h"
#include "config/unSettings.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace vx {

namespace fs = std::filesystem;

namespace {

// The real calls, except that the call named Fail fails with ENOSPC; a failing write
// first writes half of what it was given, as a full disk does.
class FakeFileCalls final : public TFileCalls {
 public:
  std::string Fail;

  int CreateNew(const std::string& path, unsigned mode) override {
    return Fail == "CreateNew" ? -ENOSPC : TFileCalls::CreateNew(path, mode);
  }
  long Write(int fd, const char* data, std::size_t count) override {
    if (Fail == "Write" && count > 1) {
      return TFileCalls::Write(fd, data, count / 2);
    }
    return Fail == "Write" ? -ENOSPC : TFileCalls::Write(fd, data, count);
  }
  int SetMode(int fd, unsigned mode) override {
    return Fail == "SetMode" ? -EPERM : TFileCalls::SetMode(fd, mode);
  }
  int Sync(int fd) override { return Fail == "Sync" ? -EIO : TFileCalls::Sync(fd); }
  int Close(int fd) override {
    const int result = TFileCalls::Close(fd);
    return Fail == "Close" ? -EIO : result;
  }
  int Rename(const std::string& from, const std::string& to) override {
    return Fail == "Rename" ? -EXDEV : TFileCalls::Rename(from, to);
  }
};

// Every setting that the file holds, one line each, to compare configurations.
std::string Describe(const TSettings& settings) {
  std::string text = std::string("AutoUpdate ") + BoolToText(settings.AutoUpdate) + "\n";
  const TPortCfgList& ports = settings.Ports();
  for (int p = 0; p < ports.Count(); ++p) {
    const TPortCfg& port = ports.Items(p);
    const TLEDBarController& link = port.Controller();
    text += "Port " + link.Port + " " + std::to_string(link.UpdateInterval()) + " " +
            BoolToText(port.Enabled) + " " + std::to_string(link.MinValue) + " " +
            std::to_string(link.MaxValue) + "\n";
    for (int c = 0; c < port.Controllers().Count(); ++c) {
      const TLEDBarCfg& cfg = port.Controllers().Items(c);
      text += " Controller " + std::to_string(cfg.BarSize) + "\n";
      for (int bar = 0; bar < 2; ++bar) {
        text += "  " + cfg.InputName(bar) + " " + BoolToText(cfg.Inverted(bar)) +
                BoolToText(cfg.Reversed(bar)) + BoolToText(cfg.FallOff(bar));
        for (int i = 0; i < cfg.Input(bar)->PropCount(); ++i) {
          text += " " + cfg.Input(bar)->Props(i)->AsText();
        }
        text += "\n";
      }
    }
  }
  return text;
}

const std::string kRichSettings = SettingsXml(
    "<AutoUpdate>true</AutoUpdate><Ports>"
    "<Port><Name>/dev/null-a</Name><Interval>20</Interval><Enabled>0</Enabled>"
    "<LEDmin>4</LEDmin><LEDmax>250</LEDmax><Controllers>"
    "<Controller Index=\"1\"><BarSize>32</BarSize><Bars><Bar Index=\"0\"><Input>kNightRider</Input>"
    "<Inverted>-1</Inverted><Prop.Moving_step>0.75</Prop.Moving_step></Bar>"
    "<Bar Index=\"1\"><Input>Gone</Input><FallOff>1</FallOff><Prop.X>1</Prop.X></Bar></Bars>"
    "</Controller><Controller Index=\"0\"><BarSize>40</BarSize><Bars><Bar Index=\"1\">"
    "<Input>CPUUsage</Input><Reversed>True</Reversed><Prop.Processor>2</Prop.Processor></Bar>"
    "</Bars></Controller></Controllers></Port>"
    "<Port><Name>P\xC3\xB6rt &amp; 2</Name><Interval>1000</Interval><Enabled>0</Enabled></Port>"
    "</Ports>");

const char* const kRichDescription =
    "AutoUpdate -1\n"
    "Port /dev/null-a 20 0 4 250\n"
    " Controller 40\n  Nothing 000\n  CPUUsage 0-10 2 60\n"
    " Controller 32\n  kNightRider -100 0 5 0.75\n  Gone 00-1\n"
    "Port P\xC3\xB6rt & 2 1000 0 0 255\n";

class SettingsFile : public ::testing::Test {
 protected:
  std::vector<std::string> RootChildren() const {
    const TSettingsFileContent content = ReadSettingsFile(fileName);
    std::vector<std::string> names;
    const xmlNode* root = FindSettingsRoot(content.Doc.get());
    for (const xmlNode* child = root != nullptr ? root->children : nullptr; child != nullptr;
         child = child->next) {
      names.push_back(NodeName(child));
    }
    return names;
  }

  FakePrompter prompter;
  PostedReports reports;
  CapturedLog log;
  TempFolder folder;
  std::string fileName = folder.Path("vorlixa.xml");
  TPortCfgList ports;
  FakeFileCalls fileCalls;
  TSettings settings{ports, fileName, fileCalls};
};

}  // namespace

TEST_F(SettingsFile, AFreshFileHoldsTheOptionThenThePorts) {
  settings.AutoUpdate = true;
  ports.Add();
  settings.SaveSettings();
  EXPECT_EQ(RootChildren(), (std::vector<std::string>{"AutoUpdate", "Ports"}));
  EXPECT_EQ(log.Lines, std::vector<std::string>{"message: Saving settings to " + fileName});
  TPortCfgList loadedPorts;
  TSettings loaded(loadedPorts, fileName);
  loaded.LoadSettings();
  EXPECT_EQ(Describe(loaded), Describe(settings));
  EXPECT_TRUE(prompter.Messages.empty());
}

TEST_F(SettingsFile, LoadSaveLoadKeepsTheConfigurationAndTheBytes) {
  WriteFile(fileName, kRichSettings);
  settings.LoadSettings();
  EXPECT_EQ(Describe(settings), kRichDescription);
  settings.SaveSettings();
  const std::string saved = ReadText(fileName);
  ports.Clear();
  settings.AutoUpdate = false;
  settings.LoadSettings();
  EXPECT_EQ(Describe(settings), kRichDescription);
  settings.SaveSettings();
  EXPECT_EQ(ReadText(fileName), saved);
  EXPECT_TRUE(prompter.Messages.empty());
  EXPECT_EQ(log.Lines.front(), "message: Loading config from " + fileName);
}

// Sound bars as a file from before their channel, scale and band properties holds them:
// saved again, the file keeps every byte; a value set away from its default is written.
TEST_F(SettingsFile, SoundBarsFromBeforeTheMeterPropertiesKeepTheirBytes) {
  // As the program saved it then.
  const std::string before = R"(<?xml version="1.0" encoding="UTF-8"?>
<Vorlixa>
  <AutoUpdate>0</AutoUpdate>
  <Ports>
    <Port>
      <Name>/dev/null-a</Name>
      <Interval>25</Interval>
      <Enabled>-1</Enabled>
      <LEDmin>0</LEDmin>
      <LEDmax>254</LEDmax>
      <Controllers>
        <Controller Index="0">
          <BarSize>40</BarSize>
          <Bars>
            <Bar Index="0">
              <Input>WaveInput</Input>
              <Inverted>0</Inverted>
              <Reversed>0</Reversed>
              <FallOff>0</FallOff>
              <Prop.Decay_perc>60</Prop.Decay_perc>
              <Prop.Source>0</Prop.Source>
            </Bar>
            <Bar Index="1">
              <Input>WaveInput</Input>
              <Inverted>0</Inverted>
              <Reversed>-1</Reversed>
              <FallOff>0</FallOff>
              <Prop.Decay_perc>25</Prop.Decay_perc>
              <Prop.Source>1</Prop.Source>
            </Bar>
          </Bars>
        </Controller>
      </Controllers>
    </Port>
  </Ports>
</Vorlixa>
)";
  WriteFile(fileName, before);
  settings.LoadSettings();
  settings.SaveSettings();
  EXPECT_EQ(ReadText(fileName), before);

  ports.Items(0).Controllers().Items(0).Input(1)->PropByName("Band")->SetInteger(4);
  settings.SaveSettings();
  EXPECT_NE(ReadText(fileName).find("<Prop.Source>1</Prop.Source>\n              "
                                    "<Prop.Band>4</Prop.Band>\n            </Bar>"),
            std::string::npos)
      << ReadText(fileName);
  ports.Clear();
  settings.LoadSettings();
  EXPECT_EQ(ports.Items(0).Controllers().Items(0).Input(1)->PropByName("Band")->AsInteger(), 4);
  // The bars open the machine's recording device, which may be missing: whether its
  // report has come by now depends on the capture thread. The file itself says nothing.
  EXPECT_TRUE(prompter.Messages.empty()) << prompter.Messages.front();
  for (const std::string& report : reports.Texts()) {
    EXPECT_TRUE(report.starts_with("Could not open wave device")) << report;
  }
}

TEST_F(SettingsFile, EverythingElseInTheFileStaysInPlace) {
  WriteFile(fileName,
            "<!--before--><Vorlixa><Foreign a=\"1\">x<y/></Foreign>"
            "<AutoUpdate>0</AutoUpdate><Ports>" +
                std::string("<Port><Name>X</Name><Interval>1</Interval>"
                            "<Enabled>0</Enabled></Port>") +
                "</Ports><Other/><Ports><Port><Name>Y</Name><Interval>2</Interval>"
                "<Enabled>0</Enabled></Port></Ports></Vorlixa><?after x?>");
  settings.LoadSettings();
  ASSERT_EQ(ports.Count(), 2);
  settings.SaveSettings();
  EXPECT_EQ(RootChildren(),
            (std::vector<std::string>{"Foreign", "Other", "Ports", "AutoUpdate", "Ports"}));
  const std::string saved = ReadText(fileName);
  EXPECT_NE(saved.find("<!--before-->\n<Vorlixa>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<Foreign a=\"1\">x<y/></Foreign>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("</Vorlixa>\n<?after x?>"), std::string::npos) << saved;
  settings.LoadSettings();  // the second section read before, then the saved one
  ASSERT_EQ(ports.Count(), 3);
  EXPECT_EQ(
      ports.Items(0).DisplayName() + ports.Items(1).DisplayName() + ports.Items(2).DisplayName(),
      "YXY");
}

TEST_F(SettingsFile, FilesWithoutTheRootChangeNothing) {
  ports.Add().Controller().Port = "kept";
  settings.AutoUpdate = true;
  const std::string kept = Describe(settings);
  WriteFile(fileName, "<vorlixa><AutoUpdate>0</AutoUpdate></vorlixa>");
  settings.LoadSettings();
  EXPECT_EQ(Describe(settings), kept);
  fs::remove(fileName);
  settings.LoadSettings();
  EXPECT_EQ(Describe(settings), kept);
  EXPECT_TRUE(prompter.Messages.empty());
}

// One typo must not cost the user the ports: the file is reported, and kept before the
// first save replaces it.
TEST_F(SettingsFile, AnUnreadableFileIsReportedOnceAndKeptBeforeASaveReplacesIt) {
  ports.Add().Controller().Port = "kept";
  const std::string kept = Describe(settings);
  const std::string typo = SettingsXml(
      "<AutoUpdate>-1</AutoUpdate><Ports><Port><Name>/dev/ttyUSB0</Name></Prot></Ports>");
  WriteFile(fileName, typo);
  settings.LoadSettings();
  settings.LoadSettings();  // every close of the settings window loads again
  EXPECT_EQ(Describe(settings), kept);
  const std::string problem = "The settings file " + fileName + " cannot be read: ";
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_TRUE(prompter.Messages[0].starts_with(problem + "Opening and ending tag mismatch"))
      << prompter.Messages[0];
  EXPECT_EQ(
      std::count_if(log.Lines.begin(), log.Lines.end(),
                    [&](const std::string& line) { return line.starts_with("error: " + problem); }),
      2);

  settings.SaveSettings();
  EXPECT_EQ(ReadText(fileName + ".bad"), typo);
  EXPECT_EQ(RootChildren(), (std::vector<std::string>{"AutoUpdate", "Ports"}));
  EXPECT_EQ(log.Lines.back(), "warning: The unreadable settings file " + fileName + " is kept as " +
                                  fileName + ".bad");
  EXPECT_EQ(prompter.Messages.size(), 1U) << "saved without an error";

  // The next unreadable file (here: one that declares entities) gets the next free name;
  // the first copy stays.
  const std::string entities =
      "<!DOCTYPE Vorlixa [<!ENTITY e \"x\">]><Vorlixa><AutoUpdate>&e;</AutoUpdate></Vorlixa>";
  WriteFile(fileName, entities);
  settings.LoadSettings();
  EXPECT_EQ(prompter.Messages.size(), 2U) << "after a save, a new problem is shown again";
  settings.SaveSettings();
  EXPECT_EQ(ReadText(fileName + ".bad"), typo);
  EXPECT_EQ(ReadText(fileName + ".bad.1"), entities);
  EXPECT_EQ(folder.Names(),
            (std::vector<std::string>{"vorlixa.xml", "vorlixa.xml.bad", "vorlixa.xml.bad.1"}));
}

TEST_F(SettingsFile, AnotherRootFailsTheSaveAndLeavesTheFile) {
  const std::string other = "<Settings><AutoUpdate>1</AutoUpdate></Settings>";
  WriteFile(fileName, other);
  settings.SaveSettings();
  const std::string message = "Only one top level element is allowed in an XML document.";
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{message});
  EXPECT_EQ(log.Lines.back(), "error: EXMLError - " + message);
  EXPECT_EQ(ReadText(fileName), other);
}

TEST_F(SettingsFile, AnErrorWhileApplyingThePortsIsReportedAndTheOptionStays) {
  // A port name longer than any device path cannot be opened.
  WriteFile(fileName,
            SettingsXml("<AutoUpdate>-1</AutoUpdate><Ports><Port><Name>" + std::string(300, 'x') +
                        "</Name><Interval>5</Interval><Enabled>-1</Enabled></Port>"
                        "</Ports>"));
  settings.LoadSettings();
  EXPECT_TRUE(settings.AutoUpdate);
  EXPECT_EQ(prompter.Messages, std::vector<std::string>{"Range check error"});
  EXPECT_EQ(log.Lines.back(), "error: ERangeError - Range check error");
}

// A file over the size limit is unreadable as any other: a save moves it aside first
// instead of failing before the copy.
TEST_F(SettingsFile, AFileOverTheLimitIsNotReadAndASaveMovesItAside) {
  const std::string huge =
      SettingsXml("<AutoUpdate>-1</AutoUpdate>" + std::string(kMaxSettingsFileSize, ' '));
  WriteFile(fileName, huge);
  settings.LoadSettings();
  EXPECT_FALSE(settings.AutoUpdate);
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_TRUE(prompter.Messages[0].starts_with("The settings file " + fileName +
                                               " cannot be read: it is larger than 16 MiB."))
      << prompter.Messages[0];
  settings.SaveSettings();
  EXPECT_EQ(prompter.Messages.size(), 1U) << prompter.Messages.back();
  EXPECT_EQ(ReadText(fileName + ".bad"), huge);
  EXPECT_EQ(RootChildren(), (std::vector<std::string>{"AutoUpdate", "Ports"}));
}

class InterruptedSave : public SettingsFile, public ::testing::WithParamInterface<const char*> {};

TEST_P(InterruptedSave, LeavesTheOldFileByteForByte) {
  WriteFile(fileName, kRichSettings);
  fs::permissions(fileName, fs::perms::owner_read | fs::perms::owner_write);
  settings.LoadSettings();
  ports.Add();
  fileCalls.Fail = GetParam();
  settings.SaveSettings();
  EXPECT_EQ(ReadText(fileName), kRichSettings);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"vorlixa.xml"});  // nothing left over
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_TRUE(prompter.Messages[0].starts_with("Cannot write " + fileName + ": "))
      << prompter.Messages[0];
  EXPECT_TRUE(log.Lines.back().starts_with("error: EInOutError - Cannot write "));
  // Once the calls work again, the same save goes through and keeps the permissions.
  fileCalls.Fail.clear();
  settings.SaveSettings();
  EXPECT_NE(ReadText(fileName), kRichSettings);
  EXPECT_EQ(fs::status(fileName).permissions() & fs::perms::mask,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"vorlixa.xml"});
}

INSTANTIATE_TEST_SUITE_P(AtEveryStep, InterruptedSave,
                         ::testing::Values("CreateNew", "Write", "SetMode", "Sync", "Close",
                                           "Rename"));

TEST_F(SettingsFile, AFileSizeLimitOfTheSystemLeavesTheOldFile) {
  WriteFile(fileName, kRichSettings);
  settings.LoadSettings();
  for (int i = 0; i < 20; ++i) {
    ports.Add();
  }
  // The system refuses to let any file grow past the limit; the write fails part-way.
  rlimit previous{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = previous;
  limited.rlim_cur = 2048;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  settings.SaveSettings();
  setrlimit(RLIMIT_FSIZE, &previous);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadText(fileName), kRichSettings);
  ASSERT_EQ(prompter.Messages.size(), 1U);
  EXPECT_EQ(prompter.Messages[0], "Cannot write " + fileName + ": File too large");
}

TEST_F(SettingsFile, ASymbolicLinkStaysAndItsTargetIsWritten) {
  const std::string target = folder.Path("real.xml");
  WriteFile(target, kRichSettings);
  fs::create_symlink(target, fileName);
  settings.LoadSettings();
  settings.AutoUpdate = false;
  settings.SaveSettings();
  EXPECT_TRUE(fs::is_symlink(fileName));
  EXPECT_NE(ReadText(target).find("<AutoUpdate>0</AutoUpdate>"), std::string::npos);
}

TEST(AutoUpdateSetting, ReadsTheBooleanRuleAndFalseForAnythingElse) {
  TempFolder folder;
  const std::string file = folder.Path("vorlixa.xml");
  EXPECT_FALSE(ReadAutoUpdateSetting(file));  // missing file
  const std::vector<std::pair<std::string, bool>> cases{
      {SettingsXml("<AutoUpdate>-1</AutoUpdate>"), true},
      {SettingsXml("<AutoUpdate>TRUE</AutoUpdate>"), true},
      {SettingsXml("<AutoUpdate>0</AutoUpdate>"), false},
      {SettingsXml("<AutoUpdate>yes</AutoUpdate>"), false},
      {SettingsXml("<Ports/>"), false},
      {"<?xml version=\"1.0\"?><Other><AutoUpdate>-1</AutoUpdate></Other>", false},
      {"<Vorlixa><AutoUpdate>-1</AutoUpdate>", false},  // not well-formed
  };
  for (const auto& [content, expected] : cases) {
    WriteFile(file, content);
    EXPECT_EQ(ReadAutoUpdateSetting(file), expected) << content;
  }
}

}  // namespace vx
