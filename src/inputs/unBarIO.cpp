#include "inputs/unBarIO.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "device/LEDController.h"
#include "inputs/unCPULoad.h"
#include "inputs/unExternal.h"
#include "inputs/unMachine.h"
#include "inputs/unWaveIn.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vx {

// ---- TLBInputProp ----------------------------------------------------------------

std::int32_t TLBInputProp::AsInteger() const {
  if (const auto* integer = std::get_if<std::int32_t>(&Value)) {
    return *integer;
  }
  if (const auto* real = std::get_if<double>(&Value)) {
    if (!std::isfinite(*real) || *real < std::numeric_limits<std::int32_t>::min() - 0.5 ||
        *real > std::numeric_limits<std::int32_t>::max() + 0.5) {
      return 0;
    }
    return static_cast<std::int32_t>(RoundHalfEven(*real));
  }
  if (const auto* text = std::get_if<std::string>(&Value)) {
    try {
      return DecimalToInt(*text);
    } catch (const EConvertError&) {
      return 0;
    }
  }
  return 0;
}

double TLBInputProp::AsFloat() const {
  if (const auto* integer = std::get_if<std::int32_t>(&Value)) {
    return *integer;
  }
  if (const auto* real = std::get_if<double>(&Value)) {
    return *real;
  }
  if (const auto* text = std::get_if<std::string>(&Value)) {
    double value = 0.0;
    if (TryTextToFloat(*text, value, '.') ||
        TryTextToFloat(*text, value, LocaleDecimalSeparator())) {
      return value;
    }
  }
  return 0.0;
}

std::string TLBInputProp::AsText() const {
  if (Kind == pkFloat) {
    if (std::holds_alternative<std::monostate>(Value)) {
      return "";
    }
    return FloatToText(AsFloat());
  }
  if (const auto* integer = std::get_if<std::int32_t>(&Value)) {
    return IntToStr(*integer);
  }
  if (const auto* real = std::get_if<double>(&Value)) {
    return FloatToText(*real);
  }
  if (const auto* text = std::get_if<std::string>(&Value)) {
    return *text;
  }
  return "";
}

void TLBInputProp::SetAsText(const std::string& text) {
  if (Kind == pkFloat) {
    Value = StrToFloat(text);
  } else {
    Value = text;
  }
}

// ---- TLBInput --------------------------------------------------------------------

std::string TLBInput::PropError(const TLBInputProp& /*prop*/) const {
  return "";
}

void TLBInput::Assign(const TLBInput& source) {
  if (&source.Class() != &Class()) {
    throw EConvertError(Format("Cannot assign a %s to a %s", source.ClassName(), ClassName()));
  }
  for (int i = 0; i < PropCount(); ++i) {
    Props(i)->Assign(*source.Props(i));
  }
}

TLBInputProp* TLBInput::PropByName(const std::string& name) const {
  for (const auto& prop : props_) {
    if (SameText(prop->Name, name)) {
      return prop.get();
    }
  }
  return nullptr;
}

TLBInputProp* TLBInput::Props(int index) const {
  if (index < 0) {
    return nullptr;
  }
  if (index >= PropCount()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return props_[static_cast<std::size_t>(index)].get();
}

TLBInputProp& TLBInput::AddProp(const std::string& name, TLBPropKind kind,
                                const std::string& unit) {
  auto prop = std::make_unique<TLBInputProp>(name, kind);
  prop->Unit = unit;
  props_.push_back(std::move(prop));
  return *props_.back();
}

// ---- Built-in inputs --------------------------------------------------------------

namespace {

template <typename T>
std::unique_ptr<TLBInput> CreateInput() {
  return std::make_unique<T>();
}

}  // namespace

void SetFadePercentage(TLEDBar& bar, std::int32_t percentage) {
  const std::int64_t amount = RoundHalfEven(percentage / 100.0 * 254.0);
  if (amount < 0 || amount > 255) {
    throw ERangeError(kRangeCheckError);
  }
  bar.SetFadeAmount(static_cast<std::uint8_t>(amount));
}

const TLBInputClass TLBNothing::ClassInfo{"TLBNothing", &CreateInput<TLBNothing>};

TLBNothing::TLBNothing() {
  Description = "Nothing";
}

void TLBNothing::Activate(TLEDBar& bar) {
  bar.SetAllLEDs(0);
}
void TLBNothing::UpdateBar(TLEDBar& /*bar*/) {}
void TLBNothing::Deactivate(TLEDBar& /*bar*/) {}

const TLBInputClass TLBKnightRider::ClassInfo{"TLBKnightRider", &CreateInput<TLBKnightRider>};

TLBKnightRider::TLBKnightRider() {
  Description = "The Knight Rider effect";
  AddProp("Offset", pkInteger, "LEDs").SetInteger(0);
  AddProp("Fading_percentage", pkInteger, "%").SetInteger(5);
  AddProp("Moving_step", pkFloat, "LEDs").SetFloat(1.0);
}

void TLBKnightRider::Activate(TLEDBar& bar) {
  Direction = 1;
  bar.FillBar = false;
  bar.SetAllLEDs(0);
  Position = PropByName("Offset")->AsInteger() / static_cast<double>(bar.BarSize());
  SetFadePercentage(bar, PropByName("Fading_percentage")->AsInteger());
  Step = PropByName("Moving_step")->AsFloat() / static_cast<double>(bar.BarSize());
  bar.SetLevel(Position);
}

void TLBKnightRider::UpdateBar(TLEDBar& bar) {
  Position += Direction * Step;
  if (Position > 1.0) {
    Position = 1.0;
    Direction = -1;
  }
  if (Position < 0.0) {
    Position = 0.0;
    Direction = 1;
  }
  bar.SetLevel(Position);
}

void TLBKnightRider::Deactivate(TLEDBar& /*bar*/) {}

const TLBInputClass TLBWaveInput::ClassInfo{"TLBWaveInput", &CreateInput<TLBWaveInput>};

namespace {

constexpr std::int32_t kRangeMin = 6;  // dB
constexpr std::int32_t kRangeMax = 120;
constexpr std::int32_t kLowestFrequency = 20;  // Hz
constexpr std::int32_t kHighestFrequency = 20000;
constexpr int kCustomBand = 5;

struct TFrequencyBand {
  double Low;  // Hz
  double High;
};
// "Bass", "Low mid", "High mid" and "Treble"; "Full" is the swing, "Custom" its properties.
constexpr std::array<TFrequencyBand, 4> kBands{
    {{20.0, 250.0}, {250.0, 1000.0}, {1000.0, 4000.0}, {4000.0, 16000.0}}};

// Added after files with sound bars existed: each is stored as the index of its choice or
// as its number, and a file without it reads as the default, which is the level as before.
TLBInputProp& AddLaterProp(TLBInputProp& prop, std::int32_t value) {
  prop.SetInteger(value);
  prop.UnwrittenDefault = prop.AsText();
  return prop;
}

}  // namespace

TLBWaveInput::TLBWaveInput() {
  Description = "Wave input from default soundcard";
  AddProp("Decay_perc", pkInteger, "%").SetInteger(60);
  // Stored as the index of the choice; files without it read as the recording device.
  TLBInputProp& source = AddProp("Source", pkChoice, "");
  source.Choices = {SoundSourceName(SoundSource::RecordingDevice),
                    SoundSourceName(SoundSource::SpeakerMonitor)};
  source.SetInteger(0);
  AddLaterProp(AddProp("Channel", pkChoice, ""), 0).Choices = {"Both", "Left", "Right"};
  AddLaterProp(AddProp("Scale", pkChoice, ""), 0).Choices = {"Linear", "Decibel"};
  AddLaterProp(AddProp("Range", pkInteger, "dB"), 48);
  AddLaterProp(AddProp("Band", pkChoice, ""), 0).Choices = {"Full",     "Bass",   "Low mid",
                                                            "High mid", "Treble", "Custom"};
  AddLaterProp(AddProp("Low_frequency", pkInteger, "Hz"), 20);
  AddLaterProp(AddProp("High_frequency", pkInteger, "Hz"), 250);
}

TLBWaveInput::~TLBWaveInput() {
  DropBand();
  ReleaseRecorder(Recorder);
}

void TLBWaveInput::Activate(TLEDBar& bar) {
  bar.FillBar = true;
  bar.SetAllLEDs(0);
  bar.SetLevel(0.0);
  SetFadePercentage(bar, PropByName("Decay_perc")->AsInteger());
  constexpr std::array<std::uint8_t, 3> kMasks{3, 1, 2};  // "Both", "Left", "Right"
  const std::int32_t channel = PropByName("Channel")->AsInteger();
  Channels = channel >= 1 && channel <= 2 ? kMasks.at(static_cast<std::size_t>(channel)) : 3;
  Decibel = PropByName("Scale")->AsInteger() == 1;
  Range = std::clamp(PropByName("Range")->AsInteger(), kRangeMin, kRangeMax);
  DropBand();
  // Only now, when the source is known: a working copy in the bar dialog records nothing.
  const SoundSource source = PropByName("Source")->AsInteger() == 1 ? SoundSource::SpeakerMonitor
                                                                    : SoundSource::RecordingDevice;
  Recorder = AcquireRecorder(source);
  const std::int32_t band = PropByName("Band")->AsInteger();
  if (band >= 1 && band <= static_cast<std::int32_t>(kBands.size())) {
    const TFrequencyBand& range = kBands.at(static_cast<std::size_t>(band - 1));
    Band = Recorder->AddBand(range.Low, range.High, Channels);
  } else if (band == kCustomBand) {
    const std::int32_t low =
        std::clamp(PropByName("Low_frequency")->AsInteger(), kLowestFrequency, kHighestFrequency);
    const std::int32_t high =
        std::clamp(PropByName("High_frequency")->AsInteger(), low, kHighestFrequency);
    Band = Recorder->AddBand(low, high, Channels);
  }
}

void TLBWaveInput::UpdateBar(TLEDBar& bar) {
  double level = 0.0;
  if (Recorder) {
    level = Band >= 0 ? Recorder->GetBandLevel(Band) : Recorder->GetLevel(Channels);
  }
  if (Decibel) {
    // A swing of half the sample range (or a band at full scale) is 0 dB.
    level = level > 0.0 ? std::clamp(1.0 + 20.0 * std::log10(level) / Range, 0.0, 1.0) : 0.0;
  }
  bar.SetLevel(level);
}

void TLBWaveInput::Deactivate(TLEDBar& bar) {
  DropBand();
  bar.SetLevel(0.0);
}

std::string TLBWaveInput::PropError(const TLBInputProp& prop) const {
  const std::int32_t value = prop.AsInteger();
  if (&prop == PropByName("Range") && (value < kRangeMin || value > kRangeMax)) {
    return Format("The range must lie between %d and %d dB.", kRangeMin, kRangeMax);
  }
  const std::int32_t low = PropByName("Low_frequency")->AsInteger();
  const std::int32_t high = PropByName("High_frequency")->AsInteger();
  // The pair is checked on the high frequency's row, which comes second, so that either
  // row can mend it.
  if (&prop == PropByName("Low_frequency") &&
      (low < kLowestFrequency || low >= kHighestFrequency)) {
    return Format("The low frequency must be at least %d Hz and below %d Hz.", kLowestFrequency,
                  kHighestFrequency);
  }
  if (&prop == PropByName("High_frequency") && (high <= low || high > kHighestFrequency)) {
    return Format("The high frequency must be above the low frequency and at most %d Hz.",
                  kHighestFrequency);
  }
  return "";
}

void TLBWaveInput::DropBand() {
  if (Recorder) {
    Recorder->RemoveBand(Band);
  }
  Band = -1;
}

const TLBInputClass TLBCPUUsage::ClassInfo{"TLBCPUUsage", &CreateInput<TLBCPUUsage>};

TLBCPUUsage::TLBCPUUsage() {
  AddProp("Processor", pkInteger, "").SetInteger(1);
  AddProp("Fade_perc", pkInteger, "%").SetInteger(60);
}

void TLBCPUUsage::Activate(TLEDBar& bar) {
  bar.SetLevel(0.0);
  SetFadePercentage(bar, PropByName("Fade_perc")->AsInteger());
}

void TLBCPUUsage::UpdateBar(TLEDBar& bar) {
  TakeLoadSample();
  // "Processor" counts from 1; the lowest number has no processor before it.
  const std::int32_t processor = PropByName("Processor")->AsInteger();
  const int index = processor == std::numeric_limits<std::int32_t>::min() ? -1 : processor - 1;
  bar.SetLevel(GetProcessorLoad(index));
}

void TLBCPUUsage::Deactivate(TLEDBar& bar) {
  bar.SetLevel(0.0);
}

// ---- TLBInputList ----------------------------------------------------------------

TLBInputList::TLBInputList() {
  Register(TLBNothing::ClassInfo);
  Register(TLBKnightRider::ClassInfo);
  Register(TLBWaveInput::ClassInfo);
  Register(TLBCPUUsage::ClassInfo);
  Register(TLBMemoryUsage::ClassInfo);
  Register(TLBNetworkTraffic::ClassInfo);
  Register(TLBDiskActivity::ClassInfo);
  Register(TLBTemperature::ClassInfo);
  Register(TLBExternal::ClassInfo);
}

void TLBInputList::Register(const TLBInputClass& inputClass) {
  classes_.push_back(&inputClass);
}

void TLBInputList::GetNames(std::vector<std::string>& names) const {
  names.clear();
  for (const TLBInputClass* inputClass : classes_) {
    names.push_back(inputClass->RegistryName());
  }
}

std::string TLBInputList::NameByIndex(int index) const {
  if (index < 0 || index >= Count()) {
    index = 0;
  }
  return classes_[static_cast<std::size_t>(index)]->RegistryName();
}

const TLBInputClass& TLBInputList::ClassByName(const std::string& name) const {
  for (const TLBInputClass* inputClass : classes_) {
    if (SameText(inputClass->RegistryName(), name)) {
      return *inputClass;
    }
  }
  return *classes_.front();
}

TLBInputList& InputList() {
  static TLBInputList list;
  return list;
}

}  // namespace vx
