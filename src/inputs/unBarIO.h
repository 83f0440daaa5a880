#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vx {

class TLEDBar;
class TLBInput;
class TWaveIn;

enum TLBPropKind : std::uint8_t { pkString = 0, pkInteger = 1, pkFloat = 2, pkChoice = 3 };

// A named, typed value of an input, edited in the bar dialog and stored in the
// settings file as "Prop." + Name.
class TLBInputProp {
 public:
  using TValue = std::variant<std::monostate, std::string, std::int32_t, double>;

  TLBInputProp(std::string name, TLBPropKind kind) : Name(std::move(name)), Kind(kind) {}

  // Never fail: an empty value or a text that is no number reads as 0.
  std::int32_t AsInteger() const;
  double AsFloat() const;
  void SetInteger(std::int32_t value) { Value = value; }
  void SetFloat(double value) { Value = value; }

  // Floats with "." and 15 significant digits; other kinds as their plain text.
  std::string AsText() const;
  // Floats parse with "." and then the user's locale, else EConvertError and the value
  // stays; other kinds store the text as it is.
  void SetAsText(const std::string& text);

  // Copies the value only.
  void Assign(const TLBInputProp& source) { Value = source.Value; }

  TValue Value;
  // A property added after files were first written: while its text is this one, the file
  // leaves it out, so that a file without it is saved as it was.
  std::optional<std::string> UnwrittenDefault;
  std::vector<std::string> Choices;
  std::string Name;
  std::string Unit;
  TLBPropKind Kind;
};

// A class of input as the registry knows it: its class name and its constructor.
struct TLBInputClass {
  const char* ClassName;
  std::unique_ptr<TLBInput> (*Create)();
  // The class name without its prefix "TLB".
  std::string RegistryName() const { return std::string(ClassName).substr(3); }
};

// The object that drives one LED bar: prepared by Activate, given a new level by
// UpdateBar on every tick, let go by Deactivate. It owns its properties.
class TLBInput {
 public:
  TLBInput() = default;
  virtual ~TLBInput() = default;
  TLBInput(const TLBInput&) = delete;
  TLBInput& operator=(const TLBInput&) = delete;

  virtual const TLBInputClass& Class() const = 0;
  const char* ClassName() const { return Class().ClassName; }

  // Copies every property value from an input of the same class; any other source
  // raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(const TLBInput& source);

  virtual void Activate(TLEDBar& bar) = 0;
  virtual void UpdateBar(TLEDBar& bar) = 0;
  virtual void Deactivate(TLEDBar& bar) = 0;

  // Why the input refuses the value that prop holds, for the bar dialog; empty when it
  // takes it. The base takes every value.
  virtual std::string PropError(const TLBInputProp& prop) const;

  // First property of that name, letter case ignored; nullptr when there is none.
  TLBInputProp* PropByName(const std::string& name) const;
  // nullptr for a negative index; EListError "List index out of bounds (%d)" past the end.
  TLBInputProp* Props(int index) const;
  int PropCount() const { return static_cast<int>(props_.size()); }

  std::string Description;

 protected:
  // For constructors: appends a property with an empty value; set its default on the
  // returned object.
  TLBInputProp& AddProp(const std::string& name, TLBPropKind kind, const std::string& unit);

 private:
  std::vector<std::unique_ptr<TLBInputProp>> props_;
};

// An empty bar.
class TLBNothing final : public TLBInput {
 public:
  TLBNothing();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return ""; }
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;
};

// A dot that sweeps up and down the bar, leaving a fading trail.
class TLBKnightRider final : public TLBInput {
 public:
  TLBKnightRider();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Knight Rider"; }
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;

  double Position = 0.0;      // the dot's place as a level 0..1
  double Step = 0.0;          // change of Position per tick
  std::int8_t Direction = 1;  // +1 up, -1 down
};

// The sound level of the recording device, or of what the speakers play ("Source"): of
// one channel or both, over all frequencies or one band, linear or in decibels.
class TLBWaveInput final : public TLBInput {
 public:
  TLBWaveInput();
  ~TLBWaveInput() override;
  TLBWaveInput(const TLBWaveInput&) = delete;
  TLBWaveInput& operator=(const TLBWaveInput&) = delete;
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "Wave Input"; }
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;
  std::string PropError(const TLBInputProp& prop) const override;

  // The shared recorder of the chosen source, from Activate on; nullptr before.
  std::shared_ptr<TWaveIn> Recorder;
  std::uint8_t Channels = 0;  // channel mask: bit 0 left, bit 1 right
  bool Decibel = false;       // "Scale": the level is 1 + dB / Range
  std::int32_t Range = 48;    // dB that the bar spans, with "Decibel"
  int Band = -1;              // the recorder's handle of the band shown; -1: the swing

 private:
  void DropBand();
};

// The load of one processor ("Processor" counts from 1).
class TLBCPUUsage final : public TLBInput {
 public:
  TLBCPUUsage();
  static const TLBInputClass ClassInfo;
  static std::string Name() { return "CPU Usage"; }
  const TLBInputClass& Class() const override { return ClassInfo; }
  void Activate(TLEDBar& bar) override;
  void UpdateBar(TLEDBar& bar) override;
  void Deactivate(TLEDBar& bar) override;
};

// The registry of input classes by name, letter case ignored.
class TLBInputList {
 public:
  TLBInputList();
  void Register(const TLBInputClass& inputClass);
  // Clears names, then appends every registry name in registration order.
  void GetNames(std::vector<std::string>& names) const;
  // The first name ("Nothing") for an index out of range.
  std::string NameByIndex(int index) const;
  // The first class (TLBNothing) for a name that is not registered.
  const TLBInputClass& ClassByName(const std::string& name) const;
  int Count() const { return static_cast<int>(classes_.size()); }

 private:
  std::vector<const TLBInputClass*> classes_;
};

// The one registry of the process, with the built-in inputs.
TLBInputList& InputList();

// Sets the bar's fade amount from a percentage; "Range check error" outside 0..100.
void SetFadePercentage(TLEDBar& bar, std::int32_t percentage);

}  // namespace vx
