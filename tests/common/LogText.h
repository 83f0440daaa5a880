#pragma once

#include <string>
#include <vector>

namespace vx {

// The texts of a log file's lines without date and time ("yyyy/mm/dd - hh:mm:ss.zzz -
// text"). Banners ("========--- Log opened --- ...") are left out, or kept as their first
// words ("========--- Log opened") when keepBanners. Lines of another form are left out.
std::vector<std::string> LogLineTexts(const std::string& fileName, bool keepBanners = false);

}  // namespace vx
