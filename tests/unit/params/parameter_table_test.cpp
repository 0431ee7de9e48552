// The help pages are written by hand; each control's page must state the
// range, factory value and page step of the parameter table.
#include "params/parameter_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "checked_texts.h"

namespace {

TEST(ParameterTable, TheControlsHelpPagesStateItsRangesFactoryValuesAndSteps) {
  int pages = 0;
  for (const ParameterField& f : PARAMETER_TABLE) {
    if (!f.hasControl) continue;
    // "Number of Points" has NumberOfPointsControl.htm.
    std::string path = "help/";
    bool wordStart = true;
    for (const char* c = f.name; *c != '\0'; ++c) {
      if (*c != ' ') path += wordStart ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      wordStart = *c == ' ';
    }
    path += "Control.htm";
    SCOPED_TRACE(path);
    const char* page = CheckedTextOf(path.c_str());
    ASSERT_NE(page, nullptr) << "no help page for the control";
    const std::string text = page;
    const std::string range =
        std::to_string(f.minimum) + " to " + std::to_string(f.maximum) + (f.unit == UNIT_DEGREES ? " degrees" : "");
    EXPECT_NE(text.find("<tr><td>Range</td><td>" + range + "</td></tr>"), std::string::npos);
    EXPECT_NE(text.find("<tr><td>Default</td><td>" + std::to_string(f.factory) + "</td></tr>"), std::string::npos);
    const std::string step = "<td>Raise or lower the value by " + std::to_string(f.pageStep) + ".</td>";
    EXPECT_NE(text.find("<kbd>Page Down</kbd></td>" + step), std::string::npos);
    EXPECT_NE(text.find("<kbd>Ctrl</kbd>+<kbd>Down</kbd></td>" + step), std::string::npos);
    ++pages;
  }
  // And no page describes a control the table does not have.
  int pagesWithRanges = 0;
  for (const CheckedText& t : CHECKED_TEXTS)
    if (std::string(t.text).find("<tr><td>Range</td>") != std::string::npos) ++pagesWithRanges;
  EXPECT_EQ(pagesWithRanges, pages);
  EXPECT_EQ(pages, 8);
}

}  // namespace
