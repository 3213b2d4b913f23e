// Thunar's uca.xml merged and cleaned without touching the user's bytes, the
// items of the static menus taken from the plug-in's menus, and Dolphin's file.
#include "host/StaticMenus.h"

#include <gtest/gtest.h>

namespace tarrovel {
namespace {

// Thunar's own default file (shortened translations), as found in
// /etc/xdg/Thunar/uca.xml and copied into ~/.config by Thunar, with a search
// action a user added.
const char kThunarDefault[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE actions [
  <!ELEMENT actions (action)+>
  <!ELEMENT action (icon|patterns|name|unique-id|command|description|directories|audio-files|image-files|other-files|text-files|video-files)*>
  <!ELEMENT name (#PCDATA)>
  <!ATTLIST name xml:lang CDATA #IMPLIED>
  <!ELEMENT directories EMPTY>
]>
<actions>

  <action>
    <icon>utilities-terminal</icon>
    <patterns>*</patterns>
    <range/>
    <name>Open Terminal Here</name>
    <name xml:lang="de">Terminal hier öffnen</name>
    <name xml:lang="ja">ここで Terminal を開く</name>
    <unique-id>1599994532155290-1</unique-id>
    <command>exo-open --working-directory %f --launch TerminalEmulator</command>
    <description>Example for a custom action</description>
    <startup-notify/>
    <directories/>
  </action>

<action>
	<icon>system-search</icon>
	<name>Search &amp; find</name>
	<submenu></submenu>
	<unique-id>1700000000000001-2</unique-id>
	<command>catfish --path=%f</command>
	<description><![CDATA[Search <here>]]></description>
	<range>*</range>
	<patterns>*</patterns>
	<directories/>
</action>
</actions>
)";

MenuItem Cmd(const char *title, SInt32 id) {
  MenuItem m;
  m.title = title;
  m.command = id;
  return m;
}
MenuItem Sep() {
  MenuItem m;
  m.title = "-";
  m.attributes = kMenuItemAttrSeparator;
  return m;
}
MenuItem Sub(const char *title, std::vector<MenuItem> items) {
  MenuItem m;
  m.title = title;
  m.hasSubmenu = true;
  m.submenu = std::move(items);
  return m;
}

std::vector<StaticItem> Items(std::vector<std::pair<SInt32, bool>> idsForFolders) {
  std::vector<StaticItem> out;
  for (auto [id, folders] : idsForFolders) {
    StaticItem s;
    s.title = "Item " + std::to_string(id);
    s.command = id;
    s.forFiles = !folders;
    s.forFolders = folders;
    out.push_back(s);
  }
  return out;
}

std::string Merged(const std::string &existing, const std::string &actions) {
  std::string out, error;
  EXPECT_TRUE(UcaMerge(existing, actions, &out, &error)) << error;
  return out;
}
std::string Removed(const std::string &existing) {
  std::string out, error;
  EXPECT_TRUE(UcaRemove(existing, &out, &error)) << error;
  return out;
}

TEST(UcaXmlTest, OurActionsComeAndGoLeavingEveryOtherByte) {
  const std::string actions = UcaActions(Items({{2001, false}, {2010, true}}), "/home/u/.local/bin/tarrovel");
  for (std::string original : {std::string(kThunarDefault),
                               std::string("<actions><action><name>a</name></action></actions>"),
                               std::string("<?xml version=\"1.0\"?>\r\n<actions>\r\n  </actions>\r\n"),
                               std::string("<actions>\n</actions>")}) {
    SCOPED_TRACE(original);
    std::string merged = Merged(original, actions);
    EXPECT_TRUE(UcaHasOurs(merged));
    EXPECT_NE(merged.find(actions), std::string::npos);
    EXPECT_EQ(Removed(merged), original);
    EXPECT_EQ(Merged(merged, actions), merged) << "a second install changes the file";
    // New settings: ours are replaced where they stand, once.
    std::string other = UcaActions(Items({{2000, false}}), "/home/u/.local/bin/tarrovel");
    std::string remerged = Merged(merged, other);
    EXPECT_EQ(remerged.find("tarrovel-2001"), std::string::npos);
    EXPECT_EQ(Removed(remerged), original);
  }
  std::string merged = Merged(kThunarDefault, actions);
  size_t ours = merged.rfind("<action>", merged.find("<unique-id>tarrovel-"));
  EXPECT_EQ(merged[ours - 1], '\n') << "our actions start a line of their own";
  EXPECT_EQ(merged.substr(merged.size() - 21), "</action>\n</actions>\n");
}

TEST(UcaXmlTest, OnlyActionsWithOurUniqueIdAreOurs) {
  std::string doc =
      "<actions>\n"
      "<action><name>Zap Resource Fork...</name><unique-id>123-1</unique-id></action>\n"
      "  <action>\n    <unique-id> tarrovel-2000 </unique-id>\n    <name>old</name>\n  </action>\n"
      "<action><name>x</name><unique-id>my-tarrovel-1</unique-id></action>\n"
      "</actions>\n";
  EXPECT_EQ(Removed(doc),
            "<actions>\n"
            "<action><name>Zap Resource Fork...</name><unique-id>123-1</unique-id></action>\n"
            "<action><name>x</name><unique-id>my-tarrovel-1</unique-id></action>\n"
            "</actions>\n");
}

TEST(UcaXmlTest, AFileThatDoesNotParseIsNeverRewritten) {
  for (const char *broken : {"", "   \n", "<actions>\n<action>\n</actions>\n", "<actions><action></actin></actions>",
                             "<menu></menu>", "<actions></actions>\n<actions></actions>",
                             "text<actions></actions>", "<actions><name>a &nbsp; b</name></actions>",
                             "<actions><name>R&D</name></actions>", "<actions><action name=x></action></actions>",
                             "<actions><!-- unterminated </actions>", "<!DOCTYPE actions [ <!ELEMENT a EMPTY>"}) {
    SCOPED_TRACE(broken);
    std::string out = "untouched", error;
    EXPECT_FALSE(UcaMerge(broken, "<action></action>\n", &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(UcaRemove(broken, &out, &error));
    EXPECT_EQ(out, "untouched");
  }
}

TEST(UcaXmlTest, ActionsCarryConditionsAndAQuotedCommand) {
  std::vector<StaticItem> items = Items({{2001, false}, {2002, true}});
  items[0].title = "Zap <Resource> & Fork...";
  std::string text = UcaActions(items, "/home/o'brien/my bin/tarrovel");
  EXPECT_NE(text.find("<name>Zap &lt;Resource&gt; &amp; Fork...</name>"), std::string::npos);
  EXPECT_NE(text.find("<command>'/home/o'\\''brien/my bin/tarrovel' run --gui -- 2001 %F</command>"), std::string::npos)
      << text;
  size_t second = text.find("<unique-id>tarrovel-2002");
  std::string first = text.substr(0, second), folder = text.substr(second);
  EXPECT_NE(first.find("<other-files/>"), std::string::npos);
  EXPECT_EQ(first.find("<directories/>"), std::string::npos);
  EXPECT_NE(folder.find("<directories/>"), std::string::npos);
  EXPECT_EQ(folder.find("<other-files/>"), std::string::npos);
  EXPECT_NE(first.find("<submenu>Tarrovel</submenu>"), std::string::npos);
  std::string merged = Merged(UcaDocument(""), text);
  EXPECT_TRUE(UcaHasOurs(merged)) << "what we write parses";
}

// "ZRFf" for an item offered for files, "d" for folders, "-" for a separator.
std::string Shape(const std::vector<StaticItem> &items) {
  std::string shape;
  for (const StaticItem &s : items)
    shape += s.separator ? std::string("- ") : s.title + (s.forFiles ? "f" : "") + (s.forFolders ? "d" : "") + " ";
  return shape;
}

TEST(StaticItemsTest, FileAndFolderMenusMergeKeepingOrderAndConditions) {
  // As the plug-in offers them with both zap items switched on.
  std::vector<MenuItem> file = {Sub("Tarrovel", {Cmd("ZRF", 2001), Cmd("ZDF", 2000), Sep(), Cmd("T1", 2010),
                                                 Cmd("T2", 2011), Cmd("T3", 2012)})};
  std::vector<MenuItem> folder = {Sub("Tarrovel", {Cmd("ZRFR", 2002), Sep(), Cmd("T1", 2010), Cmd("T2", 2011),
                                                   Cmd("T3", 2012)})};
  EXPECT_EQ(Shape(StaticItemsFor(file, folder)), "ZRFf ZDFf ZRFRd - T1fd T2fd T3fd ");

  // The defaults: nothing to zap in a folder, and no separator in its menu.
  folder = {Sub("Tarrovel", {Cmd("T1", 2010), Cmd("T2", 2011), Cmd("T3", 2012)})};
  file = {Sub("Tarrovel", {Cmd("ZRF", 2001), Sep(), Cmd("T1", 2010), Cmd("T2", 2011), Cmd("T3", 2012)})};
  EXPECT_EQ(Shape(StaticItemsFor(file, folder)), "ZRFf - T1fd T2fd T3fd ");
  EXPECT_TRUE(StaticItemsFor({}, {}).empty());
}

TEST(DolphinTest, ServiceMenuQuotesTheCommandAndTakesTheUnionOfConditions) {
  std::vector<StaticItem> items = Items({{2001, false}});
  StaticItem sep;
  sep.separator = true;
  items.push_back(sep);
  items.push_back(Items({{2010, false}})[0]);
  std::string text = DolphinServiceMenu(items, "/home/a b/100%/\"x\"/tarrovel");
  EXPECT_NE(text.find("\nMimeType=all/allfiles;\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nActions=tarrovel2001;_SEPARATOR_;tarrovel2010;\n"), std::string::npos);
  EXPECT_NE(text.find("\nX-KDE-Submenu=Tarrovel\n"), std::string::npos);
  EXPECT_NE(text.find("\n[Desktop Action tarrovel2010]\nName=Item 2010\n"
                      "Exec=\"/home/a b/100%%/\\\\\"x\\\\\"/tarrovel\" run --gui -- 2010 %F\n"),
            std::string::npos)
      << text;
  EXPECT_NE(DolphinServiceMenu(Items({{2002, true}}), "/t").find("\nMimeType=inode/directory;\n"), std::string::npos);
}

}  // namespace
}  // namespace tarrovel
