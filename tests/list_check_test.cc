// The list check and a run's notes on its list, on the scripted platform.
#include <gtest/gtest.h>

#include "run/run.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using testing::kWatchListPath;
using testing::ScriptedRun;

constexpr const char* kHead =
    "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n";
const SecurityInfo kOpenToUsers{
    true, {{false, Trustee::kGuests, kGenericAll}, {true, Trustee::kUsers, kFileDeleteChild}}};
// As a drive's root is: anybody may add a folder, nobody may replace one.
const SecurityInfo kAddOnly{true, {{true, Trustee::kAuthenticatedUsers, kFileAppendData}}};
const SecurityInfo kOthersDenied{true,
                                 {{false, Trustee::kEveryone, kFileWriteData},
                                  {true, Trustee::kEveryone, kFileWriteData},
                                  {true, Trustee::kUnclassified, kGenericAll}}};

TEST(ListCheck, EntriesAndFindingsAsARunReadsThem) {
  const struct {
    std::optional<std::string> list;  // nullopt: no file
    std::uint32_t openError;          // CreateFileA fails with it
    bool privileged;
    std::map<std::string, SecurityInfo> security;
    int exitCode;
    std::string report;  // after the head, or all of it when there is no list
    std::string note;    // what a run writes to standard error
    int runExitCode = 100;
  } cases[] = {
      // clang-format off
      {"[PGM]\nPGM001=APP\nAKT001=60\nPGM002=*rep?\nAKT002=\"600\"\nAKT003=0\n", 0, true,
       {{"C:\\WATCH", kOthersDenied}, {"C:\\", kAddOnly}}, 0,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\nEintrag 002: Muster *rep?, Grenze 600 Sekunden\n"
       "Anzahl Befunde 0\n", ""},
      {std::nullopt, 0, true, {}, 2,
       "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n"
       "Befund: keine Liste ZEITWACHE.INI in C:\\WATCH\nAnzahl Befunde 1\n",
       "zeitwache: no watch list ZEITWACHE.INI in C:\\WATCH; nothing is watched\n"},
      {"", 5, true, {}, 2,
       "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n"
       "Befund: Liste C:\\WATCH\\ZEITWACHE.INI nicht lesbar (Fehler 5)\nAnzahl Befunde 1\n",
       "zeitwache: watch list C:\\WATCH\\ZEITWACHE.INI cannot be read (error 5); nothing is watched\n"},
      {"[PGM]\n;PGM001=APP\n;AKT001=60\n", 0, true, {}, 1,
       "Befund: kein Eintrag mit einer Grenze; ein Lauf ueberwacht nichts\nAnzahl Befunde 1\n", ""},
      {"[PGN]\nPGM001=APP\nAKT001=60\n[x]\n", 0, true, {}, 1,
       "Befund: kein Abschnitt [PGM] (gefunden: [PGN], [x])\nAnzahl Befunde 1\n", ""},
      {"[PGM]\r\nPGM001=APP\r\nAKT001=60\r\nPGM003=GAP\r\nAKT003=60\r\nPGM1=X\r\n", 0, true, {}, 1,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n"
       "Befund: PGM003 in Zeile 4 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Befund: AKT003 in Zeile 5 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Befund: PGM1 in Zeile 6 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Anzahl Befunde 3\n", ""},
      {"[PGM]\nPGM001=A\nAKT001=2h\nPGM002=B\nAKT002=1:00:00\nPGM003=C\nAKT003=90s\n"
       "PGM004=D\nAKT004=1209600\nPGM005=E\nAKT005=-5\nPGM006=F\nAKT006=h2\n", 0, true, {}, 1,
       "Eintrag 001: Name A, Grenze 2 Sekunden\nEintrag 002: Name B, Grenze 1 Sekunden\n"
       "Eintrag 003: Name C, Grenze 90 Sekunden\nEintrag 004: Name D, Grenze 120960 Sekunden\n"
       "Eintrag 005: Name E, Grenze 4294967291 Sekunden\n"
       "Befund: AKT001=2h ist keine Zahl von Sekunden; ein Lauf nimmt 2\n"
       "Befund: AKT002=1:00:00 ist keine Zahl von Sekunden; ein Lauf nimmt 1\n"
       "Befund: AKT003=90s ist keine Zahl von Sekunden; ein Lauf nimmt 90\n"
       "Befund: AKT004=1209600 hat mehr als 6 Ziffern; ein Lauf nimmt 120960\n"
       "Befund: AKT005=-5 ist keine Zahl von Sekunden; ein Lauf nimmt 4294967291\n"
       "Befund: AKT006=h2 ist keine Zahl von Sekunden; ein Lauf nimmt 0\n"
       "Befund: PGM006=F wird nicht ueberwacht: AKT006 fehlt oder ergibt 0; die Liste endet hier\n"
       "Anzahl Befunde 7\n", ""},
      {"[PGM]\nPGM001=\nAKT001=5\nAKT002=5\npgm001=B\n[pgm]\nPGM003=C\n", 0, true, {}, 1,
       "Eintrag 001: Name , Grenze 5 Sekunden\nEintrag 002: Name none, Grenze 5 Sekunden\n"
       "Befund: Schluessel pgm001 in Zeile 5 doppelt; es gilt Zeile 2\n"
       "Befund: Abschnitt [PGM] in Zeile 6 doppelt; ein Lauf liest nur den ersten\n"
       "Befund: PGM001 ist leer; passt auf den ersten Prozess und wartet fuer immer\n"
       "Befund: PGM002 fehlt; ein Lauf sucht ein Programm namens none\n"
       "Anzahl Befunde 4\n", ""},
      {"; Pr\xC3\xBC" "fung\n[PGM]\nPGM001=Caf\xE9\nAKT001=9\n", 0, true, {}, 1,
       "Eintrag 001: Name Caf\xE9, Grenze 9 Sekunden\n"
       "Befund: Zeile 1 enthaelt UTF-8; unter Windows wird die Liste in der ANSI-Codepage gelesen\n"
       "Anzahl Befunde 1\n", ""},
      {"[PGM]\nPGM001=APP\nAKT001=60\n", 0, true,
       {{"C:\\", kOpenToUsers}, {kWatchListPath, SecurityInfo{false, {}}}}, 1,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n"
       "Befund: Liste abgelehnt: C:\\WATCH\\ZEITWACHE.INI is writable by other users\n"
       "Befund: Liste abgelehnt: C:\\ is writable by other users\n"
       "Anzahl Befunde 2\n",
       "zeitwache: watch list refused: C:\\WATCH\\ZEITWACHE.INI is writable by other users; "
       "C:\\ is writable by other users; make it and every directory above it owned by "
       "root and writable by no one else\n", 2},
      // Without the privilege nobody's list is trusted more than the caller's.
      {"[PGM]\nPGM001=APP\nAKT001=60\n", 0, false, {{"C:\\WATCH", kOpenToUsers}}, 0,
       "Listenpruefung: es wird nichts beendet\nAdjustTokenPrivileges failed with 1300\n"
       "Liste C:\\WATCH\\ZEITWACHE.INI\nEintrag 001: Name APP, Grenze 60 Sekunden\n"
       "Anzahl Befunde 0\n", "zeitwache: other users can change the watch list: "
       "C:\\WATCH is writable by other users\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    for (const bool check : {true, false}) {
      ScriptedRun run;
      if (c.list) run.WatchList(*c.list);
      if (c.openError != 0) run.platform.failures[ScriptedOp::kCreateFile] = c.openError;
      if (!c.privileged) run.platform.failures[ScriptedOp::kAdjustTokenPrivileges] = 1300;
      run.platform.security = c.security;
      const std::vector<std::string_view> args = {"zeitwache", check ? "--check" : "/D"};
      const int exitCode = Main(args, run.platform, run.output, run.errors);
      if (!check) {
        EXPECT_EQ(exitCode, c.runExitCode);
        EXPECT_EQ(run.errors.text(), c.note);
        if (c.runExitCode != 100) {
          EXPECT_EQ(run.platform.perfQueries, 0) << "a refused list matches nothing";
        }
        continue;
      }
      EXPECT_EQ(exitCode, c.exitCode);
      const std::string& text = run.output.text();
      EXPECT_EQ(text, c.report.starts_with("Listen") ? c.report : kHead + c.report);
      EXPECT_EQ(run.errors.text(), "");
      EXPECT_EQ(run.platform.perfQueries, 0);
      EXPECT_EQ(run.platform.openHandles, 0);
      EXPECT_TRUE(run.platform.commandLines.empty());
    }
  }
}

}  // namespace
}  // namespace zw
