#include "config/unBarCfg.h"

#include "base/Exceptions.h"
#include "base/Format.h"
#include "base/Numbers.h"
#include "base/Text.h"
#include "config/SettingsFile.h"
#include "device/LEDController.h"
#include "inputs/unBarIO.h"
#include "platform/Prompter.h"
#include "support/unLog.h"

#include <algorithm>
#include <utility>

namespace vx {

namespace {

// A decimal integer, or fallback when the text is none.
std::int32_t StrToIntDef(const std::string& text, std::int32_t fallback) {
  try {
    return DecimalToInt(text);
  } catch (const EConvertError&) {
    return fallback;
  }
}

// More boards than one frame holds cannot be driven (SendLevels refuses the frame).
constexpr std::size_t kMaxChain = static_cast<std::size_t>(kMaxBoards);

TLEDBarCfgDialog& LEDBarCfgDialog() {
  static TLEDBarCfgDialog dialog;
  return dialog;
}

}  // namespace

TLEDBarCfgDialog SetLEDBarCfgDialog(TLEDBarCfgDialog dialog) {
  return std::exchange(LEDBarCfgDialog(), std::move(dialog));
}

// ---- TLEDBarCfg -----------------------------------------------------------------------

TLEDBarCfg::TLEDBarCfg(TLEDBarCfgList* cfgList) : cfgList_(cfgList) {
  for (int bar = 0; bar < 2; ++bar) {
    SetInput(bar, InputList().NameByIndex(0));
  }
}

TLEDBarCfg::~TLEDBarCfg() = default;

std::size_t TLEDBarCfg::BarIndex(int bar) {
  if (bar < 0 || bar > 1) {
    throw ERangeError(kRangeCheckError);
  }
  return static_cast<std::size_t>(bar);
}

TLEDBarCfg::TBarCfg& TLEDBarCfg::Bar(int bar) {
  return bars_[BarIndex(bar)];
}

const TLEDBarCfg::TBarCfg& TLEDBarCfg::Bar(int bar) const {
  return bars_[BarIndex(bar)];
}

void TLEDBarCfg::Assign(const TLEDBarCfg& source) {
  if (&source == this) {
    return;
  }
  BarSize = source.BarSize;
  for (int bar = 0; bar < 2; ++bar) {
    const TBarCfg& from = source.Bar(bar);
    SetInput(bar, from.InputName);
    TBarCfg& to = Bar(bar);
    if (to.Input && from.Input) {
      to.Input->Assign(*from.Input);
    }
    to.Reversed = from.Reversed;
    to.Inverted = from.Inverted;
    to.FallOff = from.FallOff;
  }
}

std::string TLEDBarCfg::DisplayName() const {
  return Format("%s, %s", InputName(0), InputName(1));
}

void TLEDBarCfg::SetInput(int bar, const std::string& name) {
  TBarCfg& target = Bar(bar);
  if (target.Input && SameText(name, target.InputName)) {
    return;
  }
  // The old input goes first: a sound input hands back the shared recorder.
  target.Input.reset();
  target.InputName = name;
  target.Input = InputList().ClassByName(name).Create();
}

const std::string& TLEDBarCfg::InputName(int bar) const {
  return Bar(bar).InputName;
}
TLBInput* TLEDBarCfg::Input(int bar) const {
  return Bar(bar).Input.get();
}
bool& TLEDBarCfg::Inverted(int bar) {
  return Bar(bar).Inverted;
}
bool TLEDBarCfg::Inverted(int bar) const {
  return Bar(bar).Inverted;
}
bool& TLEDBarCfg::Reversed(int bar) {
  return Bar(bar).Reversed;
}
bool TLEDBarCfg::Reversed(int bar) const {
  return Bar(bar).Reversed;
}
bool& TLEDBarCfg::FallOff(int bar) {
  return Bar(bar).FallOff;
}
bool TLEDBarCfg::FallOff(int bar) const {
  return Bar(bar).FallOff;
}

bool TLEDBarCfg::Edit() {
  const TLEDBarCfgDialog& dialog = LEDBarCfgDialog();
  if (!dialog || !dialog(*this)) {
    return false;
  }
  if (cfgList_ != nullptr) {
    cfgList_->Apply();
  }
  return true;
}

int TLEDBarCfg::Index() const {
  return cfgList_ != nullptr ? cfgList_->IndexOf(*this) : -1;
}

// ---- TLEDBarCfgList -------------------------------------------------------------------

TLEDBarCfgList::TLEDBarCfgList(TLEDBarController& controller) : controller_(controller) {}

TLEDBarCfgList::~TLEDBarCfgList() = default;

TLEDBarCfg& TLEDBarCfgList::Items(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError(Format("List index out of bounds (%d)", index));
  }
  return *items_[static_cast<std::size_t>(index)];
}

void TLEDBarCfgList::Delete(int index) {
  Items(index);  // checks the index
  items_.erase(items_.begin() + index);
}

void TLEDBarCfgList::Clear() {
  items_.clear();
}

int TLEDBarCfgList::IndexOf(const TLEDBarCfg& item) const {
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [&](const auto& candidate) { return candidate.get() == &item; });
  return found == items_.end() ? -1 : static_cast<int>(found - items_.begin());
}

TLEDBarCfg& TLEDBarCfgList::Add() {
  if (items_.size() >= kMaxChain) {
    throw ERangeError(Format("A chain holds at most %d controllers.", kMaxBoards));
  }
  items_.push_back(std::make_unique<TLEDBarCfg>(this));
  TLEDBarCfg& item = *items_.back();
  Apply();
  return item;
}

void TLEDBarCfgList::Exchange(int a, int b) {
  TLEDBarCfg& first = Items(a);
  TLEDBarCfg& second = Items(b);
  TLEDBarCfg temporary;
  temporary.Assign(first);
  first.Assign(second);
  second.Assign(temporary);
}

void TLEDBarCfgList::BindBar(int item, int bar) {
  const TLEDBarCfg& cfg = Items(item);
  TLEDBar& target = controller_.LEDBarCtrls(item).Bars(bar);
  if (TLBInput* input = cfg.Input(bar)) {
    input->Activate(target);
  }
  target.Inverted = cfg.Inverted(bar);
  target.Reversed = cfg.Reversed(bar);
  target.FallOff = cfg.FallOff(bar);
}

void TLEDBarCfgList::Apply() {
  controller_.SetLEDBarCtrlCount(Count());
  for (int i = 0; i < Count(); ++i) {
    const std::int32_t barSize = Items(i).BarSize;
    if (barSize < 0 || barSize > 255) {
      throw ERangeError(kRangeCheckError);
    }
    controller_.LEDBarCtrls(i).SetBarSize(static_cast<std::uint8_t>(barSize));
    BindBar(i, 0);
    BindBar(i, 1);
  }
}

void TLEDBarCfgList::ActivateAll() {
  for (int i = 0; i < Count(); ++i) {
    BindBar(i, 0);
    BindBar(i, 1);
  }
}

void TLEDBarCfgList::UpdateBars() {
  for (int i = 0; i < Count(); ++i) {
    for (int bar = 0; bar < 2; ++bar) {
      try {
        if (TLBInput* input = Items(i).Input(bar)) {
          input->UpdateBar(controller_.LEDBarCtrls(i).Bars(bar));
        }
      } catch (const std::exception&) {
        // One bar's failure must not cost the other bars their tick.
      }
    }
  }
  controller_.SendLevels();
}

void TLEDBarCfgList::DeactivateAll() {
  for (int i = 0; i < Count(); ++i) {
    for (int bar = 0; bar < 2; ++bar) {
      TLEDBar& target = controller_.LEDBarCtrls(i).Bars(bar);
      if (TLBInput* input = Items(i).Input(bar)) {
        input->Deactivate(target);
      }
      target.SetLevel(0.0);
    }
  }
}

void TLEDBarCfgList::LoadFromXML(xmlNode* portNode) {
  Clear();
  std::size_t position = 0;  // of the element being read, for the log
  try {
    const std::vector<xmlNode*> nodes =
        SelectNodes(portNode, Format("%s/%s", "Controllers", "Controller"));
    const std::size_t count = std::min(nodes.size(), kMaxChain);
    if (nodes.size() > count) {
      LogWarning(
          Format("Port %s: %d controllers of the settings file are left out; a chain "
                 "holds at most %d",
                 controller_.Port, static_cast<int>(nodes.size() - count), kMaxBoards));
    }
    // Made without applying: the one Apply at the end configures the chain once.
    for (std::size_t k = 0; k < count; ++k) {
      items_.push_back(std::make_unique<TLEDBarCfg>(this));
    }
    // Elements fill the items that their "Index" names, in whatever order they come.
    for (; position < nodes.size(); ++position) {
      xmlNode* node = nodes[position];
      const std::string indexText = GetAttrText(node, "Index", "");
      const std::int32_t index = StrToIntDef(indexText, -1);
      if (index < 0) {
        LogWarning(Format("Controller %d of port %s is left out: its Index '%s' is no position",
                          static_cast<int>(position), controller_.Port, indexText));
        continue;
      }
      if (static_cast<std::size_t>(index) >= count &&
          static_cast<std::size_t>(index) < nodes.size()) {
        continue;  // one of those beyond the chain's end
      }
      TLEDBarCfg& item = Items(index);
      item.BarSize = DecimalToInt(GetNodeText(node, "BarSize", ""));
      for (xmlNode* barNode : SelectNodes(node, Format("%s/%s", "Bars", "Bar"))) {
        const std::int32_t bar = StrToIntDef(GetAttrText(barNode, "Index", ""), -1);
        if (bar != 0 && bar != 1) {
          continue;
        }
        item.SetInput(bar, GetNodeText(barNode, "Input", ""));
        item.Inverted(bar) = TextToBoolDef(GetNodeText(barNode, "Inverted", ""), false);
        item.Reversed(bar) = TextToBoolDef(GetNodeText(barNode, "Reversed", ""), false);
        item.FallOff(bar) = TextToBoolDef(GetNodeText(barNode, "FallOff", ""), false);
        TLBInput* input = item.Input(bar);
        for (int p = 0; input != nullptr && p < input->PropCount(); ++p) {
          TLBInputProp* prop = input->Props(p);
          if (xmlNode* propNode = FindChild(barNode, "Prop." + prop->Name)) {
            prop->SetAsText(NodeText(propNode));
          }
        }
      }
    }
  } catch (const std::exception& e) {
    LogWarning(Format("Controller %d of port %s and those after it are not read: %s - %s",
                      static_cast<int>(position), controller_.Port, ExceptionClassName(e),
                      e.what()));
    ShowMessage(e.what());
  }
  Apply();
}

void TLEDBarCfgList::SaveToXML(xmlNode* portNode) {
  xmlNode* controllers = SetChildText(portNode, "Controllers", "", false);
  for (int i = 0; i < Count(); ++i) {
    const TLEDBarCfg& item = Items(i);
    xmlNode* controller = SetChildText(controllers, "Controller", "", false);
    SetAttrText(controller, "Index", IntToStr(i));
    SetChildText(controller, "BarSize", IntToStr(item.BarSize), false);
    xmlNode* bars = SetChildText(controller, "Bars", "", false);
    for (int bar = 0; bar < 2; ++bar) {
      xmlNode* barNode = SetChildText(bars, "Bar", "", false);
      SetAttrText(barNode, "Index", IntToStr(bar));
      SetChildText(barNode, "Input", item.InputName(bar), false);
      SetChildText(barNode, "Inverted", BoolToText(item.Inverted(bar)), false);
      SetChildText(barNode, "Reversed", BoolToText(item.Reversed(bar)), false);
      SetChildText(barNode, "FallOff", BoolToText(item.FallOff(bar)), false);
      if (const TLBInput* input = item.Input(bar)) {
        for (int p = 0; p < input->PropCount(); ++p) {
          const TLBInputProp* prop = input->Props(p);
          if (prop->UnwrittenDefault && prop->AsText() == *prop->UnwrittenDefault) {
            continue;
          }
          SetChildText(barNode, "Prop." + prop->Name, prop->AsText(), false);
        }
      }
    }
  }
  Apply();
}

}  // namespace vx
