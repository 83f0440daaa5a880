#pragma once

#include "config/SettingsDocument.h"
#include "config/XmlTypes.h"

#include <string>
#include <string_view>

// The settings file: where it is, reading it (the one way to), keeping a copy of a file
// that cannot be read, saving, and the text forms of its values.

namespace vx {

class TFileCalls;

// ---------------------------------------------------------------------------------------
// The file.

// The settings file of this run (ProgramFilePlaces): beside the program file, named like
// it with ".xml", or the user's vorlixa.xml for an installed program.
std::string SettingsFileName();

// Reads and parses fileName (ParseSettingsText): a missing file is Missing, one that
// cannot be read or parsed Unreadable, both with an empty document. A file larger than
// kMaxSettingsFileSize is Unreadable too; no more than one byte beyond the limit is read.
TSettingsFileContent ReadSettingsFile(const std::string& fileName);

// Keeps the file at fileName (or the file that it links to) under the first free name of
// fileName + ".bad", ".bad.1", ".bad.2", ... beside it, before a save replaces it.
// Returns that name; raises EInOutError when no copy can be made.
std::string KeepBadSettingsFile(const std::string& fileName);

// Replaces fileName with the document's text so that the file holds either its old
// content or the whole new one, whatever fails on the way (see ReplaceFileContent). Missing
// folders on the way are made first.
void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName);
void SaveSettingsDocument(xmlDoc* doc, const std::string& fileName, TFileCalls& calls);

// ---------------------------------------------------------------------------------------
// Text forms of values.

// The boolean rule: a number is true when it is not zero; otherwise "True" and "False" in
// any letter case. False (value unchanged) for any other text, the empty one included.
bool TryTextToBool(std::string_view text, bool& value);
// As TryTextToBool; raises EConvertError "'%s' is not a valid boolean value" instead.
bool TextToBool(std::string_view text);
bool TextToBoolDef(std::string_view text, bool def);
// "-1" or "0".
const char* BoolToText(bool value);

// Number and date formats. Separators that a locale writes with more than one byte keep
// their first byte in DecimalSeparator. The file stores no dates or times and nothing
// shows any: the date and time fields always hold the fixed forms.
struct TFormatSettings {
  char DecimalSeparator = '.';
  std::string ThousandSeparator = ",";
  std::string CurrencyString;
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "yyyy/mm/dd";
  std::string LongDateFormat = "yyyy/mm/dd hh:mm:ss";
  std::string ShortTimeFormat = "hh:mm:ss";
};

// The number and currency formats of the user's current locale (LC_NUMERIC and
// LC_MONETARY).
TFormatSettings LocaleFormatSettings();

// The user's formats with "." as decimal and "," as thousands separator: every
// floating-point value that the settings file and the bar dialog hold is written and
// read with it.
TFormatSettings FixedFormatSettings();

}  // namespace vx
