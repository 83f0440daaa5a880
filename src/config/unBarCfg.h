#pragma once

#include "config/XmlTypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx {

class TLBInput;
class TLEDBarCfg;
class TLEDBarCfgList;
class TLEDBarController;

// The bar dialog: edits item and tells whether the user confirmed. The window layer
// installs it (SetLEDBarCfgDialog), so the configuration itself has no windows.
using TLEDBarCfgDialog = std::function<bool(TLEDBarCfg& item)>;
// Installs dialog (an empty function removes it) and returns the previous one.
TLEDBarCfgDialog SetLEDBarCfgDialog(TLEDBarCfgDialog dialog);

// One controller board on a port's chain: its bar size and, per bar, the input that
// drives it with the input's property values and three display flags. It owns the two
// input objects, so the configuration is what runs. Bar indexes other than 0 and 1 raise
// ERangeError "Range check error".
class TLEDBarCfg {
 public:
  // In cfgList (not owned), or free-standing with nullptr. Both bars get the first
  // registered input ("Nothing").
  explicit TLEDBarCfg(TLEDBarCfgList* cfgList = nullptr);
  ~TLEDBarCfg();  // frees the inputs
  TLEDBarCfg(const TLEDBarCfg&) = delete;
  TLEDBarCfg& operator=(const TLEDBarCfg&) = delete;

  // Bar size, then per bar: the input by name with its property values, and the flags.
  void Assign(const TLEDBarCfg& source);
  // "<bar 0 input name>, <bar 1 input name>".
  std::string DisplayName() const;
  // Opens the bar dialog on this configuration; when confirmed, applies its list.
  // Returns whether it was confirmed (false without an installed dialog).
  bool Edit();

  // Keeps everything when name equals the current name apart from letter case; otherwise
  // replaces the input by a new one of the class registered under name (the first class
  // for an unknown name) and keeps name as given.
  void SetInput(int bar, const std::string& name);
  const std::string& InputName(int bar) const;
  TLBInput* Input(int bar) const;  // owned by this configuration
  bool& Inverted(int bar);
  bool Inverted(int bar) const;
  bool& Reversed(int bar);
  bool Reversed(int bar) const;
  bool& FallOff(int bar);
  bool FallOff(int bar) const;

  TLEDBarCfgList* CfgList() const { return cfgList_; }
  int Index() const;  // position in CfgList, -1 when free-standing

  std::int32_t BarSize = 0;  // LEDs per bar; must be 0..255 when applied

 private:
  struct TBarCfg {
    std::string InputName;
    std::unique_ptr<TLBInput> Input;
    bool Inverted = false;
    bool Reversed = false;
    bool FallOff = false;
  };
  // bar as an index of bars_; raises ERangeError unless it is 0 or 1.
  static std::size_t BarIndex(int bar);
  TBarCfg& Bar(int bar);
  const TBarCfg& Bar(int bar) const;

  TLEDBarCfgList* cfgList_;
  std::array<TBarCfg, 2> bars_;
};

// The boards of one port: item i configures board i of the link's chain, and bar j of
// the item bar j of that board.
class TLEDBarCfgList {
 public:
  explicit TLEDBarCfgList(TLEDBarController& controller);  // not owned
  ~TLEDBarCfgList();
  TLEDBarCfgList(const TLEDBarCfgList&) = delete;
  TLEDBarCfgList& operator=(const TLEDBarCfgList&) = delete;

  TLEDBarController& Controller() const { return controller_; }
  int Count() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" for an index outside the list.
  TLEDBarCfg& Items(int index) const;
  void Delete(int index);  // frees the item and its inputs
  void Clear();
  int IndexOf(const TLEDBarCfg& item) const;

  // Appends a default item, applies, and returns the item.
  TLEDBarCfg& Add();
  // Swaps the configurations at a and b by copying; does not apply.
  void Exchange(int a, int b);
  // Board count, bar sizes and bar bindings into the link. ERangeError "Range check
  // error" for a BarSize outside 0..255 (the items before it are applied).
  void Apply();
  // Binds every bar again without touching boards or sizes.
  void ActivateAll();
  // One tick: every input updates its bar (a failing bar is skipped), then the link sends.
  void UpdateBars();
  // Stops every input and sets every bar to level 0.
  void DeactivateAll();

  // Replaces the list with the "Controllers" section below a "Port" element. Errors while
  // reading are shown as a message and end the reading; the final Apply is outside that
  // and raises to the caller.
  void LoadFromXML(xmlNode* portNode);
  // Appends a new "Controllers" section to the "Port" element, then applies.
  void SaveToXML(xmlNode* portNode);

 private:
  void BindBar(int item, int bar);

  TLEDBarController& controller_;
  std::vector<std::unique_ptr<TLEDBarCfg>> items_;
};

}  // namespace vx
