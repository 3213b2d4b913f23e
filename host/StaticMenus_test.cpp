// Thunar's uca.xml merged and cleaned without touching the user's bytes, the
// items of the static menus taken from the plug-in's menus, and Dolphin's file.
#include "host/StaticMenus.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace tv::host {
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

const std::string kTarrovel = "/home/u/.local/bin/tarrovel";

std::string Merged(const std::string &existing, const std::vector<UcaAction> &previous,
                   const std::vector<UcaAction> &actions) {
  std::string out, error;
  EXPECT_TRUE(UcaMerge(existing, previous, actions, &out, &error)) << error;
  return out;
}
std::string Removed(const std::string &existing, const std::vector<UcaAction> &previous) {
  std::string out, error;
  EXPECT_TRUE(UcaRemove(existing, previous, &out, &error)) << error;
  return out;
}

TEST(UcaXmlTest, OurActionsComeAndGoInAnyWellFormedFileLeavingEveryOtherByte) {
  const std::vector<UcaAction> actions = UcaActionsFor(Items({{2001, false}, {2010, true}}), kTarrovel);
  struct Case {
    std::string original;
    std::string afterRemoval;  // when not the original itself
  };
  const std::vector<Case> cases = {
      {kThunarDefault, ""},
      {"<actions><action><name>a</name></action></actions>", ""},
      {"<?xml version=\"1.0\"?>\r\n<actions>\r\n  </actions>\r\n", ""},
      {"<actions>\n</actions>", ""},
      {"\xEF\xBB\xBF<actions>\n</actions>\n", ""},
      // Thunar writes this once its last action is deleted.
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions/>\n",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n"},
      {"<!-- mine --><actions xmlns:x='urn:x' x:v=\"1\" />", "<!-- mine --><actions xmlns:x='urn:x' x:v=\"1\" >\n</actions>"},
      {"<!DOCTYPE actions SYSTEM \"uca.dtd\">\n<actions>\n<!-- <action> -->\n<action><name><![CDATA[<a>]]></name>"
       "<unique-id>1-1</unique-id></action>\n</actions>\n<!-- end -->\n",
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.original);
    std::string merged = Merged(c.original, {}, actions);
    EXPECT_TRUE(UcaHasAny(merged, actions));
    EXPECT_NE(merged.find(UcaActionsText(actions)), std::string::npos);
    EXPECT_EQ(Removed(merged, actions), c.afterRemoval.empty() ? c.original : c.afterRemoval);
    EXPECT_EQ(Merged(merged, actions, actions), merged) << "a second install changes the file";
    // New settings: ours are replaced where they stand, once.
    std::vector<UcaAction> other = UcaActionsFor(Items({{2000, false}}), kTarrovel);
    std::string remerged = Merged(merged, actions, other);
    EXPECT_EQ(remerged.find("tarrovel-2001"), std::string::npos);
    EXPECT_FALSE(UcaHasAny(remerged, actions));
    EXPECT_EQ(Removed(remerged, other), c.afterRemoval.empty() ? c.original : c.afterRemoval);
  }
  std::string merged = Merged(kThunarDefault, {}, actions);
  size_t ours = merged.rfind("<action>", merged.find("<unique-id>tarrovel-"));
  EXPECT_EQ(merged[ours - 1], '\n') << "our actions start a line of their own";
  EXPECT_EQ(merged.substr(merged.size() - 21), "</action>\n</actions>\n");
}

// Only what install recorded is ours: an action of the user's stays, whatever
// its unique-id, and so does one of ours the user has since edited.
TEST(UcaXmlTest, OnlyTheRecordedActionsAreOurs) {
  const std::vector<UcaAction> recorded = UcaActionsFor(Items({{2000, false}, {2001, false}}), kTarrovel);
  std::string edited = recorded[1].element;
  edited.replace(edited.find("%F"), 2, "%f");
  std::string users =
      "<action><name>Zap Resource Fork...</name><unique-id>tarrovel-2001</unique-id></action>\n"
      "<action><unique-id><![CDATA[tarrov]]>el-2000</unique-id></action>\n"
      "<action><name>x</name><unique-id>tarrovel-</unique-id></action>\n" +
      edited + "\n";
  std::string doc = "<actions>\n" + users + recorded[0].element + "\n</actions>\n";
  EXPECT_EQ(Removed(doc, recorded), "<actions>\n" + users + "</actions>\n");
  EXPECT_EQ(Merged(doc, recorded, {}), "<actions>\n" + users + "</actions>\n");
  EXPECT_FALSE(UcaHasAny("<actions>\n" + users + "</actions>\n", recorded));

  // The record is the text of the actions, read back as it was written.
  std::vector<UcaAction> back;
  std::string error;
  ASSERT_TRUE(UcaActionsFromText(UcaActionsText(recorded), &back, &error)) << error;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].id, "tarrovel-2001");
  EXPECT_EQ(back[1].element, recorded[1].element);
  EXPECT_FALSE(UcaActionsFromText("<name>x</name>\n", &back, &error));
}

TEST(UcaXmlTest, AFileThatDoesNotParseIsNeverRewritten) {
  for (const char *broken : {"", "   \n", "<actions>\n<action>\n</actions>\n", "<actions><action></actin></actions>",
                             "<menu></menu>", "<actions></actions>\n<actions></actions>", "<actions/><actions/>",
                             "<menu/>", "text<actions></actions>", "<actions><name>a &nbsp; b</name></actions>",
                             "<actions><name>R&D</name></actions>", "<actions><action name=x></action></actions>",
                             "<actions><!-- unterminated </actions>", "<!DOCTYPE actions [ <!ELEMENT a EMPTY>"}) {
    SCOPED_TRACE(broken);
    std::string out = "untouched", error;
    const std::vector<UcaAction> actions = UcaActionsFor(Items({{2001, false}}), kTarrovel);
    EXPECT_FALSE(UcaMerge(broken, actions, actions, &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(UcaRemove(broken, actions, &out, &error));
    EXPECT_EQ(out, "untouched");
  }
}

TEST(UcaXmlTest, ActionsCarryConditionsNamesInEveryLanguageAndAQuotedCommand) {
  std::vector<StaticItem> items = Items({{2001, false}, {2002, true}});
  items[0].title = "リソース";  // the language of whoever wrote the menu
  AddTitles(&items, "en", {Items({{2002, true}})[0], StaticItem{"Zap <Resource> & Fork...", 2001}});
  AddTitles(&items, "ja", {StaticItem{"リソース", 2001}});
  AddTitles(&items, "pt-BR", {StaticItem{"Zap \"pt\"", 2001}});
  std::vector<UcaAction> actions = UcaActionsFor(items, "/home/o'brien/my bin/tarrovel");
  ASSERT_EQ(actions.size(), 2u);
  std::string first = actions[0].element, folder = actions[1].element;
  EXPECT_EQ(actions[1].id, "tarrovel-2002");
  EXPECT_NE(first.find("\t<name>Zap &lt;Resource&gt; &amp; Fork...</name>\n\t<name xml:lang=\"ja\">リソース</name>\n"
                       "\t<name xml:lang=\"pt_BR\">Zap \"pt\"</name>\n"),
            std::string::npos)
      << first;
  // Chosen by its English title, which the command accepts whatever the user's language.
  EXPECT_NE(first.find("<command>'/home/o'\\''brien/my bin/tarrovel' run --gui -- 'Zap &lt;Resource&gt; &amp; Fork...' "
                       "%F</command>"),
            std::string::npos)
      << first;
  EXPECT_NE(first.find("<other-files/>"), std::string::npos);
  EXPECT_EQ(first.find("<directories/>"), std::string::npos);
  EXPECT_NE(folder.find("<directories/>"), std::string::npos);
  EXPECT_EQ(folder.find("<other-files/>"), std::string::npos);
  EXPECT_NE(first.find("<submenu>Tarrovel</submenu>"), std::string::npos);
  EXPECT_TRUE(UcaHasAny(UcaDocument(actions), actions)) << "what we write parses";
}

// Thunar replaces its field codes (%f, %F, %d, %n, %u...) anywhere in the
// command, with quoted file names, and runs it with /bin/sh -c: no '%' of a
// path or a title may act as one.
TEST(UcaXmlTest, APercentInThePathOrTitleIsNeverAFieldCode) {
  const std::string file = "$(echo INJECTED).txt";
  for (std::string path : {"/home/P%fQ/.local/bin/tarrovel", "/home/100%/bin/tarrovel", "/h/%F $(echo INJECTED)/t",
                           "/h/%%u'%d/t", "/h/%/t%"}) {
    SCOPED_TRACE(path);
    StaticItem item{"Zap %n 100%...", 2001};
    item.forFiles = true;
    std::string element = UcaActionsFor({item}, path)[0].element;
    size_t open = element.find("<command>") + 9;
    std::string command = element.substr(open, element.find("</command>") - open), expanded;
    ASSERT_EQ(command.find_first_of("&<>"), std::string::npos) << "nothing to unescape here";
    for (size_t i = 0; i < command.size(); i++) {
      if (command[i] != '%' || i + 1 == command.size()) {
        expanded += command[i];
      } else if (command[++i] == '%') {
        expanded += '%';
      } else {
        expanded += "'" + file + "'";  // any field code: a quoted file name, as Thunar quotes it
      }
    }
    tv::test::RunResult r = tv::test::Run({"/bin/sh", "-c", "set -- " + expanded + "; printf '%s\\n' \"$@\""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path + "\nrun\n--gui\n--\nZap %n 100%...\n" + file + "\n") << command;
  }
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
  AddTitles(&items, "ja", {StaticItem{"項目", 2010}});
  std::string text = DolphinServiceMenu(items, "/home/a b/100%/\"x\"/$(tarrovel)");
  EXPECT_NE(text.find("\nMimeType=all/allfiles;\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nActions=tarrovel000-2001;_SEPARATOR_;tarrovel002-2010;\n"), std::string::npos);
  EXPECT_NE(text.find("\nX-KDE-Submenu=Tarrovel\n"), std::string::npos);
  EXPECT_NE(text.find("\n[Desktop Action tarrovel002-2010]\nName=Item 2010\nName[ja]=項目\n"
                      "Exec=\"/home/a b/100%%/\\\\\"x\\\\\"/\\\\$(tarrovel)\" run --gui -- \"Item 2010\" %F\n"),
            std::string::npos)
      << text;
  EXPECT_NE(DolphinServiceMenu(Items({{2002, true}}), "/t").find("\nMimeType=inode/directory;\n"), std::string::npos);
}

// Dolphin merges the three files into one submenu ordered by action id.
TEST(DolphinTest, EachItemIsShownOnlyWhereItIsOfferedInTheSubmenusOrder) {
  std::vector<MenuItem> file = {Cmd("ZRF", 2001), Cmd("ZDF", 2000), Sep(), Cmd("T1", 2010), Cmd("T2", 2011)};
  std::vector<MenuItem> folder = {Cmd("ZRFR", 2002), Sep(), Cmd("T1", 2010), Cmd("T2", 2011)};
  std::vector<ServiceMenuFile> files = DolphinServiceMenus(StaticItemsFor(file, folder), "/t");
  ASSERT_EQ(files.size(), 3u);
  const char *expected[][3] = {
      {"tarrovel-files.desktop", "MimeType=all/allfiles;\n", "Actions=tarrovel000-2001;tarrovel001-2000;\n"},
      {"tarrovel-folders.desktop", "MimeType=inode/directory;\n", "Actions=tarrovel002-2002;\n"},
      {"tarrovel.desktop", "MimeType=all/allfiles;inode/directory;\n",
       "Actions=_SEPARATOR_;tarrovel004-2010;tarrovel005-2011;\n"}};
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(files[i].name, expected[i][0]);
    EXPECT_NE(files[i].content.find(std::string("\n") + expected[i][1] + expected[i][2]), std::string::npos)
        << files[i].content;
  }
  // Nothing for folders alone: the file stays, with no action.
  files = DolphinServiceMenus(StaticItemsFor(file, {}), "/t");
  EXPECT_NE(files[1].content.find("\nActions=\n"), std::string::npos) << files[1].content;
  EXPECT_EQ(files[1].content.find("[Desktop Action"), std::string::npos) << files[1].content;
}

}  // namespace
}  // namespace tv::host
