// The list check and a run's notes on its list, on the scripted platform.
#include <gtest/gtest.h>

#include "run/run.h"
#include "scripted_fixture.h"

namespace zw {
namespace {

using namespace std::string_literals;
using testing::Framed;
using testing::kWatchListPath;
using testing::Proc;
using testing::ScriptedRun;

constexpr const char* kHead =
    "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n";

// Idle, the system's own two, the watchdog and one program of 10 s.
std::vector<ScriptedProcess> SurveyedProcesses() {
  const ScriptedPlatform p;
  ScriptedProcess init = Proc(p, 1, u"init", 900);
  ScriptedProcess kthreadd = Proc(p, 2, u"kthreadd", 900);
  init.critical = kthreadd.critical = true;
  return Framed({init, kthreadd, Proc(p, 4242, u"zeitwache", 5), Proc(p, 50, u"cron", 10)});
}

TEST(ListCheck, EntriesAndFindingsAsARunReadsThem) {
  const struct {
    std::optional<std::string> list;  // nullopt: no file
    std::uint32_t openError;          // ReadWholeFile fails with it
    bool privileged;
    std::set<std::string> writable;  // what others may change
    int exitCode;
    std::string report;  // after the head, or all of it when there is no list
    std::string note;    // what a run writes to standard error
    int runExitCode = 100;
    std::vector<ScriptedProcess> processes = {};
    std::optional<std::string> kill = std::nullopt;  // a kill not the program's own
  } cases[] = {
      // clang-format off
      {"[PGM]\nPGM001=APP\nAKT001=60\nPGM002=*rep?\nAKT002=\"600\"\nAKT003=0\n", 0, true,
       {}, 0,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 002: Muster *rep?, Grenze 600 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\nAnzahl Befunde 0\n", ""},
      {std::nullopt, 0, true, {}, 2,
       "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n"
       "Befund: keine Liste ZEITWACHE.INI in C:\\WATCH\nAnzahl Befunde 1\n",
       "zeitwache: no watch list ZEITWACHE.INI in C:\\WATCH; nothing is watched\n"},
      {"", 5, true, {}, 2,
       "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n"
       "Befund: Liste C:\\WATCH\\ZEITWACHE.INI nicht lesbar (Fehler 5)\nAnzahl Befunde 1\n",
       "zeitwache: watch list C:\\WATCH\\ZEITWACHE.INI cannot be read (error 5); nothing is watched\n"},
      {"", 8, true, {}, 2,
       "Listenpruefung: es wird nichts beendet\nListe C:\\WATCH\\ZEITWACHE.INI\n"
       "Befund: Liste C:\\WATCH\\ZEITWACHE.INI nicht lesbar (Fehler 8)\nAnzahl Befunde 1\n",
       "zeitwache: watch list C:\\WATCH\\ZEITWACHE.INI is larger than 16 MiB "
       "(error 8); entries may be missed\n"},
      {"[PGM]\n;PGM001=APP\n;AKT001=60\n", 0, true, {}, 1,
       "Beenden mit: kein kill gefunden; ein Lauf beendet nichts\n"
       "Befund: kein Eintrag mit einer Grenze; ein Lauf ueberwacht nichts\n"
       "Befund: kein kill gefunden; ein Lauf kann nichts beenden\nAnzahl Befunde 2\n", "", 100, {}, ""},
      // Saved by Notepad as "Unicode": read as a run reads it, no UTF-8 finding.
      {"\xFF\xFE[\0P\0G\0M\0]\0\n\0P\0G\0M\0\x30\0\x30\0\x31\0=\0\xC4\0P\0P\0\n\0"
       "A\0K\0T\0\x30\0\x30\0\x31\0=\0\x36\0\x30\0"s, 0, true, {}, 1,
       "Eintrag 001: Name \xC3\x84PP, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: PGM001=\xC3\x84PP enthaelt Zeichen ausserhalb von ASCII; sie passen nur in "
       "gleicher Schreibung\nAnzahl Befunde 1\n", ""},
      {"[PGN]\nPGM001=APP\nAKT001=60\n[x]\n", 0, true, {}, 1,
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: kein Abschnitt [PGM] (gefunden: [PGN], [x])\nAnzahl Befunde 1\n", ""},
      {"[PGM]\r\nPGM001=APP\r\nAKT001=60\r\nPGM003=GAP\r\nAKT003=60\r\nPGM1=X\r\n", 0, true, {}, 1,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: PGM003 in Zeile 4 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Befund: AKT003 in Zeile 5 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Befund: PGM1 in Zeile 6 wird nie gelesen; die Liste endet bei Eintrag 2\n"
       "Anzahl Befunde 3\n", ""},
      {"[PGM]\nPGM001=AA\nAKT001=2h\nPGM002=BB\nAKT002=1:00:00\nPGM003=CC\nAKT003=90s\n"
       "PGM004=DD\nAKT004=1209600\nPGM005=EE\nAKT005=-5\nPGM006=FF\nAKT006=4000000000\n"
       "PGM007=GG\nAKT007=h2\n", 0, true, {}, 1,
       "Eintrag 001: Name AA, Grenze 7200 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 002: Name BB, Grenze 3600 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 003: Name CC, Grenze 90 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 004: Name DD, Grenze 1209600 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 005: Name EE, Grenze 4294967291 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 006: Name FF, Grenze 400000 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: AKT001=2h ist keine Zahl von Sekunden; ein Lauf nimmt 7200\n"
       "Befund: AKT002=1:00:00 ist keine Zahl von Sekunden; ein Lauf nimmt 3600\n"
       "Befund: AKT003=90s ist keine Zahl von Sekunden; ein Lauf nimmt 90\n"
       "Befund: AKT005=-5 ist keine Zahl von Sekunden; ein Lauf nimmt 4294967291\n"
       "Befund: AKT006=4000000000 ist groesser als 2147483647; ein Lauf nimmt 400000\n"
       "Befund: AKT007=h2 ist keine Zahl von Sekunden; ein Lauf nimmt 0\n"
       "Befund: PGM007=GG wird nicht ueberwacht: AKT007 fehlt oder ergibt 0; die Liste endet hier\n"
       "Anzahl Befunde 7\n", ""},
      // What the entries match now; none of them finds a process in a run.
      {"[PGM]\nPGM001=*\nAKT001=60\nPGM002=init\nAKT002=60\nPGM003=I\nAKT003=60\n"
       "PGM004=CRON;daily\nAKT004=60\nPGM005=C:\\CRON\nAKT005=60\nPGM006=Cr\xE9\nAKT006=60\n",
       0, true, {}, 1,
       "Eintrag 001: Muster *, Grenze 60 Sekunden\n"
       "  passt jetzt auf 3 Prozesse: INIT.EXE, KTHREADD.EXE, CRON.EXE\n"
       "Eintrag 002: Name init, Grenze 60 Sekunden\n  passt jetzt auf 1 Prozess: INIT.EXE\n"
       "Eintrag 003: Name I, Grenze 60 Sekunden\n  passt jetzt auf 1 Prozess: INIT.EXE\n"
       "Eintrag 004: Name CRON;daily, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 005: Name C:\\CRON, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 006: Name Cr\xE9, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\Windows\\kill.exe\n"
       "Befund: PGM003=I hat nur ein Zeichen; passt auf jeden Prozess, dessen Name so beginnt\n"
       "Befund: PGM004=CRON;daily enthaelt ';'; ein Kommentar hinter dem Namen gehoert zum Namen\n"
       "Befund: PGM005=C:\\CRON enthaelt einen Pfad; ein Prozessname hat keinen, der Eintrag passt "
       "nie\n"
       "Befund: PGM006=Cr\xE9 enthaelt Zeichen ausserhalb von ASCII; sie passen nur in gleicher "
       "Schreibung\n"
       "Befund: PGM001=* passt auf jeden Prozess; ein Lauf findet damit nichts\n"
       "Befund: PGM002=init passt zuerst auf den Systemprozess INIT.EXE, 1; ein Lauf uebergeht ihn\n"
       "Befund: PGM003=I passt zuerst auf IDLE.EXE, keinen Prozess; ein Lauf findet damit nichts\n"
       "Befund: C:\\Windows\\kill.exe ist nicht das kill von ZEITWACHE: kein SIGKILL nach der "
       "Frist, keine Pruefung, ob es noch derselbe Prozess ist\n"
       "Anzahl Befunde 8\n", "", 100, SurveyedProcesses(), "C:\\Windows\\kill.exe"},
      {"[PGM]\nPGM001=\nAKT001=5\nAKT002=5\npgm001=B\n[pgm]\nPGM003=C\n", 0, true, {}, 1,
       "Eintrag 001: Name , Grenze 5 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Eintrag 002: Name none, Grenze 5 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: Schluessel pgm001 in Zeile 5 doppelt; es gilt Zeile 2\n"
       "Befund: Abschnitt [PGM] in Zeile 6 doppelt; ein Lauf liest nur den ersten\n"
       "Befund: PGM001 ist leer; passt auf jeden Prozess, ein Lauf findet damit nichts\n"
       "Befund: PGM002 fehlt; ein Lauf sucht ein Programm namens none\n"
       "Anzahl Befunde 4\n", ""},
      {"; Pr\xC3\xBC" "fung\n[PGM]\nPGM001=Caf\xE9\nAKT001=9\n", 0, true, {}, 1,
       "Eintrag 001: Name Caf\xE9, Grenze 9 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: PGM001=Caf\xE9 enthaelt Zeichen ausserhalb von ASCII; sie passen nur in gleicher "
       "Schreibung\n"
       "Befund: Zeile 1 enthaelt UTF-8; unter Windows wird die Liste in der ANSI-Codepage gelesen\n"
       "Anzahl Befunde 2\n", ""},
      {"[PGM]\nPGM001=APP\nAKT001=60\n", 0, true,
       {"C:\\", kWatchListPath}, 1,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: Liste abgelehnt: C:\\WATCH\\ZEITWACHE.INI is writable by other users\n"
       "Befund: Liste abgelehnt: C:\\ is writable by other users\n"
       "Anzahl Befunde 2\n",
       "zeitwache: watch list refused: C:\\WATCH\\ZEITWACHE.INI is writable by other users; "
       "C:\\ is writable by other users; make it and every directory above it owned by "
       "root and writable by no one else\n", 2},
      // The program's folder, where kill lies, is judged by the check only.
      {"[PGM]\nPGM001=APP\nAKT001=60\n", 0, true, {"C:\\ZW"}, 1,
       "Eintrag 001: Name APP, Grenze 60 Sekunden\n  passt jetzt auf 0 Prozesse\n"
       "Beenden mit: C:\\ZEITWACHE\\kill.exe\n"
       "Befund: C:\\ZW ist fuer andere Benutzer schreibbar\nAnzahl Befunde 1\n", ""},
      // Without the privilege nobody's list is trusted more than the caller's.
      {"[PGM]\nPGM001=APP\nAKT001=60\n", 0, false, {"C:\\WATCH"}, 0,
       "Listenpruefung: es wird nichts beendet\nAdjustTokenPrivileges failed with 1300\n"
       "Liste C:\\WATCH\\ZEITWACHE.INI\nEintrag 001: Name APP, Grenze 60 Sekunden\n"
       "  passt jetzt auf 0 Prozesse\nBeenden mit: C:\\ZEITWACHE\\kill.exe\nAnzahl Befunde 0\n",
       "zeitwache: other users can change the watch list: "
       "C:\\WATCH is writable by other users\n"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    for (const bool check : {true, false}) {
      ScriptedRun run;
      if (c.list) run.WatchList(*c.list);
      if (c.openError != 0) run.platform.failures[ScriptedOp::kReadWholeFile] = c.openError;
      if (!c.privileged) run.platform.failures[ScriptedOp::kAdjustTokenPrivileges] = 1300;
      run.platform.writableByOthers = c.writable;
      run.platform.snapshots = {{c.processes, {}}};
      if (c.kill)
        std::tie(run.platform.commandProgram, run.platform.commandProgramOwn) =
            std::pair(*c.kill, false);
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
      EXPECT_EQ(run.platform.openHandles, 0);
      EXPECT_TRUE(run.platform.commandLines.empty());
    }
  }
}

}  // namespace
}  // namespace zw
