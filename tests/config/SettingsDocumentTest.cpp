#include "config/ConfigTestSupport.h"
#include "config/SettingsFile.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>
#include <utility>
#include <vector>

namespace vx {

namespace {

std::vector<std::string> ChildNames(const xmlNode* node) {
  std::vector<std::string> names;
  for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
    names.push_back(NodeName(child));
  }
  return names;
}

XmlDocPtr Parse(const std::string& text) {
  TSettingsFileContent content = ParseSettingsText(text);
  EXPECT_EQ(content.State, TSettingsFileState::Loaded) << text;
  return std::move(content.Doc);
}

}  // namespace

TEST(SettingsDocument, RootIsTheFirstTopLevelElementNamedExactly) {
  EXPECT_EQ(FindSettingsRoot(Parse("<vorlixa/>").get()), nullptr);
  EXPECT_EQ(FindSettingsRoot(Parse("<Other><Vorlixa/></Other>").get()), nullptr);
  const XmlDocPtr doc = Parse("<!-- note --><?Vorlixa x?><Vorlixa><A/></Vorlixa>");
  const xmlNode* root = FindSettingsRoot(doc.get());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(ChildNames(root), std::vector<std::string>{"A"});
  // The document's one element is taken: no second root can be added.
  try {
    AppendDocumentElement(doc.get(), "Vorlixa");
    FAIL() << "a second top-level element was added";
  } catch (const EXMLError& e) {
    EXPECT_STREQ(e.what(), "Only one top level element is allowed in an XML document.");
  }
}

TEST(SettingsDocument, NodeTextFollowsChildPathsInDocumentOrder) {
  const XmlDocPtr doc = Parse(
      "<Vorlixa><P/><P><Q> second </Q></P><P><Q>third</Q></P><R a=\"1\">x<b>y</b>&amp;z</R>"
      "<p:N xmlns:p=\"urn:x\">prefixed</p:N></Vorlixa>");
  xmlNode* root = FindSettingsRoot(doc.get());
  EXPECT_EQ(GetNodeText(root, "P/Q", "none"), "second");
  EXPECT_EQ(SelectNodes(root, "P/Q").size(), 2U);
  EXPECT_EQ(GetNodeText(root, "R", ""), "xy&z");
  EXPECT_EQ(GetNodeText(root, "r", "none"), "none");  // letter case counts
  EXPECT_EQ(GetNodeText(root, "N", "none"), "none");  // so does the prefix
  EXPECT_EQ(GetNodeText(root, "p:N", ""), "prefixed");
  xmlNode* r = SelectSingleNode(root, "R");
  EXPECT_EQ(GetAttrText(r, "a", "none"), "1");
  EXPECT_EQ(GetAttrText(r, "A", "none"), "none");
  SetAttrText(r, "a", "2");
  EXPECT_EQ(GetAttrText(r, "a", "none"), "2");
}

TEST(SettingsDocument, SetChildTextReusesOrAddsAndAppends) {
  const XmlDocPtr doc = Parse("<Vorlixa><AutoUpdate>1<x/></AutoUpdate><B/></Vorlixa>");
  xmlNode* root = FindSettingsRoot(doc.get());
  xmlNode* first = root->children;
  EXPECT_EQ(SetChildText(root, "AutoUpdate", "<0&>", true), first);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"B", "AutoUpdate"}));
  EXPECT_EQ(ChildNames(first), std::vector<std::string>{"#text"});
  SetChildText(root, "AutoUpdate", "new", false);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"B", "AutoUpdate", "AutoUpdate"}));
  // Markup characters are text, and come back as such.
  const XmlDocPtr again = Parse(SettingsDocumentText(doc.get()));
  EXPECT_EQ(GetNodeText(FindSettingsRoot(again.get()), "AutoUpdate", ""), "<0&>");
}

TEST(SettingsDocument, RefusesTextThatNoFileCouldHold) {
  const XmlDocPtr doc = Parse("<Vorlixa/>");
  xmlNode* root = FindSettingsRoot(doc.get());
  EXPECT_THROW(SetChildText(root, "Name", std::string("a\x01") + "b", false), EXMLError);
  EXPECT_THROW(SetChildText(root, "Name", "\xC3", false), EXMLError);
  EXPECT_THROW(SetChildText(root, "Prop.Bad name", "1", false), EXMLError);
  EXPECT_THROW(SetAttrText(root, "Index", "\xC0\x80"), EXMLError);
  EXPECT_EQ(root->children, nullptr);
}

TEST(SettingsDocument, LoadsOtherEncodingsAndWritesUtf8) {
  TempFolder folder;
  // "Pörtli" in UTF-16LE with a byte order mark, as another writer may save it.
  const std::u16string text =
      u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><Vorlixa>"
      u"<Name>P\u00F6rtli</Name></Vorlixa>";
  WriteFile(folder.Path("u16.xml"),
            std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  WriteFile(folder.Path("latin1.xml"),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Vorlixa><Name>P\xF6rtli</Name>"
            "</Vorlixa>");
  for (const char* name : {"u16.xml", "latin1.xml"}) {
    const TSettingsFileContent content = ReadSettingsFile(folder.Path(name));
    ASSERT_EQ(content.State, TSettingsFileState::Loaded) << name;
    EXPECT_EQ(GetNodeText(FindSettingsRoot(content.Doc.get()), "Name", ""), "P\xC3\xB6rtli")
        << name;
    const std::string saved = SettingsDocumentText(content.Doc.get());
    EXPECT_NE(saved.find("encoding=\"UTF-8\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("<Name>P\xC3\xB6rtli</Name>"), std::string::npos) << saved;
  }
}

TEST(SettingsDocument, ReadsNoExternalResourceAndNoEntityBomb) {
  TempFolder folder;
  WriteFile(folder.Path("secret.txt"), "SECRET");
  WriteFile(folder.Path("outside.dtd"), "<!ENTITY e \"FROMDTD\">");
  WriteFile(folder.Path("ext.xml"), "<!DOCTYPE Vorlixa SYSTEM \"" + folder.Path("outside.dtd") +
                                        "\" [<!ENTITY x SYSTEM \"" + folder.Path("secret.txt") +
                                        "\">]><Vorlixa><A>&x;</A><B>&e;</B></Vorlixa>");
  // A document type that declares entities is refused as a whole.
  const TSettingsFileContent content = ReadSettingsFile(folder.Path("ext.xml"));
  EXPECT_EQ(content.State, TSettingsFileState::Unreadable);
  EXPECT_EQ(content.Problem, "its document type declares entities, which are not accepted");
  EXPECT_EQ(FindSettingsRoot(content.Doc.get()), nullptr);
  // Without declarations of its own, the outside DTD is not read either.
  WriteFile(folder.Path("dtd.xml"), "<!DOCTYPE Vorlixa SYSTEM \"" + folder.Path("outside.dtd") +
                                        "\"><Vorlixa><B>&e;</B></Vorlixa>");
  const TSettingsFileContent dtd = ReadSettingsFile(folder.Path("dtd.xml"));
  ASSERT_EQ(dtd.State, TSettingsFileState::Loaded);
  EXPECT_EQ(GetNodeText(FindSettingsRoot(dtd.Doc.get()), "B", "none"), "");
  const std::string all = SettingsDocumentText(dtd.Doc.get());
  EXPECT_EQ(all.find("FROMDTD"), std::string::npos) << all;

  std::string bomb = "<!DOCTYPE Vorlixa [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
  for (char level = 'b'; level <= 'j'; ++level) {
    const std::string previous = "&" + std::string(1, static_cast<char>(level - 1)) + ";";
    std::string tenfold;
    for (int i = 0; i < 10; ++i) {
      tenfold += previous;
    }
    bomb += "<!ENTITY " + std::string(1, level) + " \"" + tenfold + "\">";
  }
  bomb += "]><Vorlixa><AutoUpdate>&j;</AutoUpdate></Vorlixa>";
  const TSettingsFileContent refused = ParseSettingsText(bomb);
  EXPECT_NE(refused.State, TSettingsFileState::Loaded);
  EXPECT_EQ(FindSettingsRoot(refused.Doc.get()), nullptr);
}

}  // namespace vx
