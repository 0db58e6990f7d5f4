// Every example of README.md and doc/kestrel.1 runs here as written, and does
// what its text says.
//
// Where the examples are: every ```sh block of README.md, every .nf/.fi and
// .EX/.EE block of doc/kestrel.1. A block that is not to run (set-up and build
// commands, sample output) has a marker on the line right before it, which
// the rendered page does not show:
//     README.md:      <!-- not run: <why> -->
//     doc/kestrel.1:  .\" not run: <why>
// Each command of a block is a line (`\` at its end, or a quote left open,
// joins the next; `#` starts a comment) whose every stage starts with kestrel
// or a tool of kTools; anything else fails, and so does a kestrel line in a
// block that does not run unmarked.
//
// How one runs: in a fresh folder, by bash with pipefail, `kestrel` being the
// binary under test, standard input empty (the viewer leaves at its end). A
// word of the command that names a file or folder (or whose first folder
// does, as disks/*.d64) brings it in: from the nearest earlier command of the
// same block that made it, else from kFixtures; the new image of -new is left
// alone. An input neither gives is not made, so kestrel's "not found" fails
// the example. Every example must end with status 0, and every claim of
// kClaims whose text stands in the command must hold after it; a claim that
// matches no example fails, so none is left behind when an example changes.
//
// A new example: write it in such a block with inputs from kFixtures (or add a
// fixture), and add a claim for the result its text promises.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/d64_builder.h"
#include "support/run_binary.h"
#include "support/shell.h"
#include "support/tools.h"

namespace {

// Programs an example may run besides kestrel.
const std::set<std::string> kTools = {"printf", "jq", "find", "xargs"};

// Shell helpers of fixtures and claims: prg FILE BYTES writes a program
// that loads at $C000 (its name repeated as data); disk IMAGE NAME[,TYPE]...
// has cc1541 write one such file of each name (lower case gives the disk's
// letters); names IMAGE lists its entries as NAME TYPE, comma-separated.
const char *kHelpers =
    "prg() { { printf '\\000\\300'; head -c \"$2\" < <(yes \"$1\"); } > \"$1\"; }\n"
    "disk() { img=$1; shift; set -- $(for n; do t=PRG; case $n in *,*) t=${n#*,}; n=${n%,*};; esac;"
    " prg \"$n.tmp\" $((${#n} * 900)); echo \"-T $t -f $n -w $n.tmp\"; done);"
    " cc1541 -n \"${img%.*}\" -i 01 \"$@\" \"$img\" >/dev/null && rm -f ./*.tmp; }\n"
    "names() { kestrel -json \"$1\" | jq -r '.entries[] | .name + \" \" + .type + (if .locked then \"<\" else \"\" end)'"
    " | paste -sd, -; }\n";

// The input files the examples name: each made by its shell line in a folder
// of its own ($BUILT holds the byte-built tape.t64, parts.d81 and paint.cvt, $SRC is
// the source tree), whose whole content an example's folder then gets.
std::map<std::string, std::string> fixtures() {
    std::map<std::string, std::string> made = {
        {"examples", "mkdir examples && cp \"$SRC/examples/sample.d64\" examples"},
        {"games.d64", "disk games.d64 game music demo editor tool scores,SEQ docs"},
        {"-vintage.d64", "disk v.d64 vintage && mv v.d64 ./-vintage.d64"},
        {"disks", "mkdir disks && cd disks && disk one.d64 first && disk two.d64 first third"},
        {"a.d64", "disk a.d64 a1 a2"},
        {"b.d64", "disk b.d64 b1 b2 b3"},
        {"art.d64", "disk art.d64 e0 e1 e2 e3 e4 e5 e6 e7"},
        {"current.d64", "disk v1.d64 release && ln -s v1.d64 current.d64"},
        // NOTES (slot 5) scratched and its blocks freed, as a drive scratches
        {"disk.d64", "for f in intro game music tool demo; do prg $f.prg 2000; done && prg notes.seq 900 && kestrel"
                     " -new DISK,01 -w intro.prg -w game.prg -w music.prg -w tool.prg -w demo.prg -w notes.seq d.d64"
                     " >/dev/null && kestrel -sd 5 d.d64 s.d64 >/dev/null && kestrel -fix s.d64 disk.d64 >/dev/null"
                     " && rm d.d64 s.d64 ./*.prg notes.seq"},
        // partition GAMES (tracks 41-50, holding PACMAN) and ARCADE inside it
        {"disk.d81", "cp \"$BUILT/parts.d81\" p.d81 && prg pacman.prg 3000 && kestrel -part GAMES -w pacman.prg"
                     " p.d81 disk.d81 >/dev/null && rm p.d81 pacman.prg"},
        {"blank.d64", "kestrel -new BLANK,00 blank.d64 >/dev/null"},
        {"games.lnx", "disk games.d64 game music demo editor tool scores,SEQ docs && kestrel -x -lnx games.d64 >/dev/null"
                      " && rm games.d64"},
        {"zipcode", "disk games.d64 game music demo editor tool scores,SEQ docs && kestrel -x -zipcode games.d64"
                    " -into zipcode >/dev/null && rm games.d64"},
        // a G64 whose block 1/0 reads with error 23 (data checksum)
        {"original.g64", "disk o.d64 game music && { cat o.d64; printf '\\005'; printf '\\001%.0s' $(seq 682); }"
                         " > e.d64 && kestrel -convert e.d64 original.g64 >/dev/null && rm o.d64 e.d64"},
        {"speed.d64", "kestrel -new SPEED,SP -40 speeddos speed.d64 >/dev/null"},
        {"letters.d64", "prg h.tmp 300 && kestrel -Ul -new Letters,lc -wname 'Hello World' -w h.tmp letters.d64"
                        " >/dev/null && rm h.tmp"},
        {"collection.d64", "disk collection.d64 old1 old2"},
        {"collection.d81", "disk collection.d81 old1 old2"},
        {"games1.d64", "disk games1.d64 g0 g1 g2 g3 g4 g5"},
        {"games2.d71", "disk games2.d71 h0 h1 h2 h3 h4 h5"},
        {"game.p00", "prg game.prg 4000 && cbmconvert -P -n game.prg >/dev/null && rm game.prg"},
        {"notes.s00", "prg notes.seq 900 && cbmconvert -P -n notes.seq >/dev/null && rm notes.seq"},
        {"old", "mkdir old && cd old && prg game.prg 4000 && prg notes.seq 900 && cbmconvert -P -n game.prg notes.seq"
                " >/dev/null && rm game.prg notes.seq"},
        {"ledger.dat", "head -c 5000 < <(yes ledger) > ledger.dat"},
        {"accounts.r00", "head -c 3000 < <(yes accounts) > accounts.l1e && cbmconvert -v0 -P -n accounts.l1e"
                         " && rm accounts.l1e"},
        {"paint.cvt", "cp \"$BUILT/paint.cvt\" paint.cvt"},
        {"geos.d64", "cp \"$BUILT/paint.cvt\" . && cbmconvert -v0 -D4 geos.d64 -n paint.cvt && rm paint.cvt"},
        {"tapes", "mkdir tapes && cp \"$BUILT/tape.t64\" tapes/a.t64 && cp \"$BUILT/tape.t64\" tapes/b.t64"},
        {"games.d64.gz", "disk games.d64 game music demo editor tool scores,SEQ docs && gzip -n games.d64"},
    };
    // two disks in one zip, also where an example names a member of it
    for (const char *zip : {"disks.zip", "disks.zip!two.d64"})
        made[zip] = "mkdir d && cd d && disk one.d64 first && disk two.d64 first third && python3 -c \"import zipfile;"
                    " z = zipfile.ZipFile('../disks.zip', 'w', zipfile.ZIP_DEFLATED); z.write('one.d64');"
                    " z.write('two.d64'); z.close()\" && cd .. && rm -r d";
    made["zips"] = "mkdir zips && cd zips && disk one.d64 first && disk two.d64 first third && python3 -c \"import zipfile;"
                   " [f.write(d) or f.close() for z, d in (('a.zip', 'one.d64'), ('b.zip', 'two.d64')) for f in [zipfile.ZipFile(z, 'w')]]\""
                   " && rm one.d64 two.d64";
    for (const char *tape : {"tape.t64", "games.t64", "demo.t64"}) made[tape] = std::string("cp \"$BUILT/tape.t64\" ") + tape;
    for (const char *file : {"intro.prg", "part1.prg", "part2.prg", "loader.prg", "boot.bin", "game.prg", "a.prg",
                             "b.prg", "tetris.prg", "notes.seq", "my%2Fgame.prg"})
        made[file] = std::string("prg '") + file + "' 5000";
    return made;
}

// What an example's text claims: `check` runs in its folder after every
// example whose words (quotes and comment taken off, one blank between)
// hold `example` (with a `$` at its end: end with it), and must succeed;
// $OUT names the file holding the example's standard output.
struct Claim {
    const char *example;
    const char *check;
};
const Claim kClaims[] = {
    {"kestrel examples/sample.d64$", R"~(grep -q '623 BLOCKS FREE' "$OUT")~"},
    {"kestrel games.d64$", R"~(grep -q '542 BLOCKS FREE' "$OUT")~"},
    {"-vntsfbc games.d64", R"~(grep -q ' 0: 15 *"GAME" *PRG *1  0 \$c000  3602  15 ' "$OUT")~"},
    {"-csv games.d64 > games.csv", R"~([ "$(awk -F';' '{print NF}' games.csv | sort -u)" = 13 ] && [ $(wc -l <games.csv) = 7 ])~"},
    {"-e games.d64", R"~([ "$(tr -d ' \n' <"$OUT")" = tracks:.byte1,1,2,3,4,5,6sectors:.byte0,3,15,18,7,10,20 ])~"},
    {"-bam games.d64", R"~([ $(grep -c '^ *[0-9]*: *[0-9]*/[0-9]* [.o ]*$' "$OUT") = 35 ])~"},
    {"-block 18 1 games.d64$", R"~(grep -q '^Sector:  1 ' "$OUT")~"},
    {"kestrel -block games.d64", R"~([ "$(grep '^Sector:' "$OUT" | cut -c10 | paste -sd, -)" = 0,1,2 ])~"},
    {"-rd 3 5 games.d64$", R"~([ "$(names games.out.d64)" = "GAME PRG,MUSIC PRG,DEMO PRG,DOCS PRG" ])~"},
    {"-start 0", R"~(kestrel -json fixed.d64 | jq -e '.entries[0].start_address == 2049' >/dev/null)~"},
    {"-adel art.d64$", R"~(names art.out.d64 | grep -q ',E7 PRG, DEL$')~"},
    {"-adel art.d64 art.d64", R"~(names art.d64 | grep -q ',E7 PRG, DEL$')~"},
    {"-adel art.d64 current.d64", R"~([ -L current.d64 ] && names v1.d64 | grep -q '^E0 PRG,.*,E7 PRG, DEL, DEL$')~"},
    {"-merge a.d64 b.d64 ab.d64", R"~([ "$(names ab.d64)" = "A1 PRG,A2 PRG,B1 PRG,B2 PRG,B3 PRG" ])~"},
    {"-type 0 PRG< -blocks 0 0 art.d64", R"~(names art.out.d64 | grep -q '^\*\* MEGA DEMO \*\* PRG<,E1 PRG')~"},
    {"-type 1 DEL< -blocks 1 0 art.out.d64 art2.d64", R"~(names art2.d64 | grep -q '^\*\* MEGA DEMO \*\* PRG<,─\{16\} DEL<,E2')~"},
    {"-move 7 0 -header PARTY 2026 -id XY 2A art2.d64 art3.d64",
     R"~(names art3.d64 | grep -q '^E7 PRG,\*\* MEGA' && kestrel art3.d64 | grep -q '"PARTY 2026      " XY 2A')~"},
    {"-move 7 1 -header PARTY 2026 -id XY 2A art.d64 art.d64",
     R"~(names art.d64 | grep -q '^\*\* MEGA DEMO \*\* PRG,E7 PRG,E1 PRG' && kestrel -json art.d64 |
        jq -e '.entries[0].shown_blocks == 0 and .disk_name == "PARTY 2026" and .id == "XY 2A"' >/dev/null)~"},
    {"-undel 5 -type 5 SEQ disk.d64 saved.d64", R"~(names saved.d64 | grep -q ',NOTES SEQ$' && kestrel -check saved.d64)~"},
    {"kestrel -Ul letters.d64", R"~(kestrel -utf8 -Ul letters.d64 | grep -q '"Hello World"')~"},  // as a terminal shows it
    {"-- -vintage.d64", R"~(grep -q '"VINTAGE" ' "$OUT")~"},
    {"--version", R"~([ "$(cat "$OUT")" = "kestrel 1.0" ])~"},
    {"kestrel -check games.d64$", R"~(grep -q '^0 errors, 0 warnings' "$OUT")~"},
    {"-fix -check games.d64 fixed.d64", R"~(cmp games.d64 fixed.d64 && grep -q '^0 errors, 0 warnings' "$OUT")~"},
    {"kestrel -check disks/*.d64$", R"~(grep -q '^2 images: 0 errors, 0 warnings' "$OUT")~"},
    {"kestrel -json -check disks/*.d64 | jq", R"~([ ! -s "$OUT" ])~"},
    {"> catalogue.jsonl", R"~([ "$(jq -r .image catalogue.jsonl | sort | paste -sd, -)" = disks/one.d64,disks/two.d64 ])~"},
    {"@tsv catalogue.jsonl", R"~(awk -F'\t' '$1 == "disks/two.d64" && $2 == "THIRD" && $4 == 4502 && length($5) == 8' "$OUT" | grep -q .)~"},
    {"group_by(.k)", R"~(grep -q ': disks/one.d64 FIRST, disks/two.d64 FIRST$' "$OUT")~"},
    {"select(.error) | .error catalogue.jsonl", R"~([ ! -s "$OUT" ])~"},
    {"kestrel -x games.d64$", R"~([ "$(ls *.prg *.seq | paste -sd, -)" = demo.prg,docs.prg,editor.prg,game.prg,music.prg,scores.seq,tool.prg ])~"},
    {"-x 2 4 games.d64", R"~([ "$(ls *.prg | paste -sd, -)" = demo.prg,editor.prg,tool.prg ])~"},
    {"-csv disks/*.d64", R"~([ "$(head -1 catalogue.csv | cut -d, -f1-2)" = image,number ] && [ $(wc -l < catalogue.csv) = 4 ])~"},
    {"-x games.d64 -into out/games", R"~([ $(ls out/games | wc -l) = 7 ] && grep -q ' out/games/game.prg ' "$OUT")~"},
    {"-x disks/*.d64 -into out", R"~([ -f out/one/first.prg ] && [ -f out/two/first.prg ] && [ -f out/two/third.prg ])~"},
    {"-w intro.prg -w notes.seq games.d64$", R"~(names games.out.d64 | grep -q ',DOCS PRG,INTRO PRG,NOTES SEQ$')~"},
    {"-w my%2Fgame.prg games.d64 new.d64", R"~(names new.d64 | grep -q ',MY/GAME PRG$')~"},
    {"-w game.p00 -w notes.s00 -w tape.t64 collection.d64 new.d64",
     R"~([ "$(names new.d64)" = "OLD1 PRG,OLD2 PRG,GAME PRG,NOTES SEQ,SNAKE PRG,SCORES SEQ" ])~"},
    {"-w games.t64 -w game.p00 -w notes.s00 -check collection.d81",
     R"~([ "$(names collection.d81)" = "SNAKE PRG,SCORES SEQ,GAME PRG,NOTES SEQ" ] && grep -q '^0 errors' "$OUT")~"},
    {"-x -p00 collection.d81 -into back", R"~([ "$(ls back | paste -sd, -)" = game.p00,notes.s00,scores.s00,snake.p00 ])~"},
    {"-x -p00 games.d64 -into p00", R"~([ $(ls p00 | wc -l) = 7 ] && head -c 7 p00/scores.s00 | grep -q C64File)~"},
    {"-w p00/game.p00 -w p00/scores.s00 blank.d64 copy.d64", R"~([ "$(names copy.d64)" = "GAME PRG,SCORES SEQ" ])~"},
    {"-copy games1.d64 -copy games2.d71 3 5 collection.d81 all.d81",
     R"~(names all.d81 | grep -q ',G0 PRG,G1 PRG,G2 PRG,G3 PRG,G4 PRG,G5 PRG,H3 PRG,H4 PRG,H5 PRG$')~"},
    {"-wtrack 1/0 -wil 4 -w boot.bin disk.d64 out.d64", R"~(grep -q '"LOADER" PRG<, 20 blocks from 1/[0-9]*, interleave 4' "$OUT")~"},
    {"-wreplace -w game.prg disk.d64 new.d64",
     R"~([ "$(kestrel -json new.d64 | jq -r '.entries[1] | "\(.name) \(.bytes)"')" = "GAME 5002" ] && kestrel -check new.d64)~"},
    {"-tracks40 -il 8 -w a.prg -w b.prg speed.d64 out.d64", R"~([ $(grep -c ', interleave 8$' "$OUT") = 2 ])~"},
    {"-clash skip -w old -w tapes/*.t64 disk.d64 out.d64",
     R"~([ "$(names out.d64)" = "INTRO PRG,GAME PRG,MUSIC PRG,TOOL PRG,DEMO PRG,NOTES SEQ,SNAKE PRG,SCORES SEQ" ])~"},
    {"-w loader.prg -type 0 PRG< blank.d64 out.d64", R"~([ "$(names out.d64)" = "LOADER PRG<" ])~"},
    {"-new BLANK,00 blank.d64", R"~([ "$(kestrel blank.d64 | tail -1)" = "664 BLOCKS FREE." ])~"},
    {"-new DEMO,23 -w intro.prg -w part1.prg -check demo.d64",
     R"~([ "$(names demo.d64)" = "INTRO PRG,PART1 PRG" ] && grep -q '^0 errors' "$OUT")~"},
    {"-40 speeddos -w part2.prg big.d64", R"~([ $(stat -c %s big.d64) = 196608 ] && [ "$(names big.d64)" = "PART2 PRG" ])~"},
    {"-errorbytes archive.d81", R"~([ $(stat -c %s archive.d81) = 822400 ])~"},
    {"-w intro.prg -adel -rename", R"~([ "$(names art.d64)" = "──────── DEL,INTRO PRG" ])~"},
    {"-check release.d64",
     R"~([ "$(names release.d64)" = "──────────────── DEL,LOADER PRG<,PART1 PRG<,PART2 PRG<" ] && grep -q '^0 errors' "$OUT" &&
        kestrel -json release.d64 | jq -e '.entries[1] | .track == 1 and .sector == 0' >/dev/null)~"},
    {"-vntsfbc release.d64", R"~(grep -q '^  1: 20 *"LOADER" *PRG< *1  0 \$c000  5002' "$OUT")~"},
    {"-part GAMES disk.d81$", R"~(grep -q '"PACMAN" *PRG' "$OUT" && grep -q '"ARCADE" *CBM' "$OUT")~"},
    {"-part GAMES -part ARCADE disk.d81$", R"~(head -1 "$OUT" | grep -q '"ARCADE ')~"},
    {"-w tetris.prg", R"~(kestrel -part GAMES out.d81 | grep -q '"TETRIS"' && ! kestrel out.d81 | grep -q TETRIS)~"},
    {"-part GAMES -x disk.d81 -into games", R"~([ "$(ls games)" = pacman.prg ])~"},
    {"-mkpart DEMOS 400 disk.d81 out.d81", R"~(kestrel -part DEMOS out.d81 | grep -q '^0 "DEMOS ' && kestrel -check out.d81 | grep -q '^0 errors')~"},
    {"-mkpart TOOLS 120 -w intro.prg demos.d81",
     R"~([ "$(names demos.d81)" = "TOOLS CBM,INTRO PRG" ] && kestrel -part TOOLS demos.d81 | grep -q '^0 "TOOLS ')~"},
    {"-bread 1/0 back.bin -chain 18/0 blocks.d64",
     R"~([ "$(head -c 8 back.bin | od -An -tx1 | tr -d ' \n')" = 626f6f74a9006000 ] && [ $(stat -c %s back.bin) = 256 ])~"},
    {"-check original.g64", R"~(grep -q 'block 1/0: 23 data checksum' "$OUT")~"},
    {"-convert original.g64 original.d64", R"~([ $(stat -c %s original.d64) = 175531 ] && [ $(tail -c 683 original.d64 | head -c 1 | od -An -tu1) = 5 ])~"},
    {"-vntsfbc original.d64", R"~(grep -q '"GAME" *PRG' "$OUT")~"},
    {"-part GAMES -json disk.d81", R"~(jq -e '.entries | map(.name) == ["ARCADE", "PACMAN"]' "$OUT" >/dev/null)~"},
    {"-fix -check disk.d81 mended.d81", R"~(grep -q '^0 errors' "$OUT" && kestrel -part GAMES mended.d81 | grep -q '"PACMAN"')~"},
    {"-wrel 50 -w ledger.dat -w accounts.r00 -w paint.cvt -check books.d81",
     R"~([ "$(names books.d81)" = "LEDGER REL,ACCOUNTS REL,PAINT USR" ] && grep -q '^0 errors' "$OUT" && kestrel -json books.d81 |
        jq -e '[.entries[] | .record_length // .geos.structure] == [50, 30, "vlir"]' >/dev/null)~"},
    {"-copy books.d81 blank.d64 books.d64", R"~([ "$(names books.d64)" = "LEDGER REL,ACCOUNTS REL,PAINT USR" ] && kestrel -check books.d64)~"},
    {"-x -p00 -cvt books.d64 -into back",
     R"~([ "$(ls back | paste -sd, -)" = accounts.r00,ledger.r00,paint.cvt ] && cmp "$BUILT/paint.cvt" back/paint.cvt &&
        [ $(od -An -tu1 -j25 -N1 back/accounts.r00) = 30 ] && [ $(stat -c %s back/accounts.r00) = 3026 ])~"},
    {"-copy geos.d64 -check apps.d81",
     R"~([ "$(names apps.d81)" = "PAINT USR" ] && grep -q '^0 errors' "$OUT" && kestrel -x -cvt apps.d81 -into x >/dev/null &&
        cmp "$BUILT/paint.cvt" x/paint.cvt)~"},
    {"kestrel -check disk.d81$", R"~(grep -q '^0 errors, 0 warnings' "$OUT")~"},
    {"-x -lnx games.d64", R"~(grep -q '^games.lnx (7 files, 31288 bytes)$' "$OUT" && [ $(stat -c %s games.lnx) = 31288 ])~"},
    {"-w games.lnx copy.d64", R"~([ "$(names copy.d64)" = "GAME PRG,MUSIC PRG,DEMO PRG,EDITOR PRG,TOOL PRG,SCORES SEQ,DOCS PRG" ])~"},
    {"-x -zipcode games.d64 -into packs", R"~([ "$(ls packs | paste -sd, -)" = '1!games,2!games,3!games,4!games' ])~"},
    {"-zipdisk packs/1!games back.d64", R"~(kestrel -x -zipcode back.d64 -into again >/dev/null &&
        for n in 1 2 3 4; do cmp "packs/$n!games" "again/$n!back" || exit 1; done)~"},
    {"-zipdisk zipcode/1!games unpacked.d64",
     R"~([ "$(names unpacked.d64)" = "GAME PRG,MUSIC PRG,DEMO PRG,EDITOR PRG,TOOL PRG,SCORES SEQ,DOCS PRG" ])~"},
    {"kestrel disks.zip$", R"~(grep -q '^disks.zip!two.d64:$' "$OUT" && grep -q '"THIRD" *PRG' "$OUT")~"},
    {"-json zips/*.zip > zips.jsonl",
     R"~([ "$(jq -r '.image + " " + (.entries | length | tostring)' zips.jsonl | paste -sd, -)" = 'zips/a.zip!one.d64 1,zips/b.zip!two.d64 2' ])~"},
    {"-x disks.zip -into out", R"~([ -f 'out/disks.zip!one/first.prg' ] && [ -f 'out/disks.zip!two/third.prg' ])~"},
    {"-check games.d64.gz", R"~(grep -q '^0 errors, 0 warnings' "$OUT")~"},
    {"-copy disks.zip!two.d64 all.d64", R"~([ "$(names all.d64)" = "FIRST PRG,THIRD PRG" ])~"},
};

// ================================================================ reading the documents

struct Example {
    std::string where;    // file:line of its first line
    std::string command;  // as the shell gets it
    std::string words;    // its words and operators, one blank between
    int block;            // examples of one block may use each other's files
};

// A shell command as words (quotes taken off) and operators (`|`, `>`, `2>` ...,
// marked by a leading NUL); false when a quote is left open.
bool shellWords(const std::string &text, std::vector<std::string> &words) {
    words.clear();
    std::string word;
    bool inWord = false;
    char quote = 0;
    auto flush = [&] {
        if (inWord) words.push_back(word);
        word.clear();
        inWord = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
            else if (quote == '"' && c == '\\' && i + 1 < text.size()) word += text[++i];
            else word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            flush();
        } else if (std::strchr("|;&<>", c)) {
            std::string op = word == "2" && c == '>' ? "2" : "";
            if (op.empty()) flush();
            word.clear();
            inWord = false;
            while (i < text.size() && std::strchr("|;&<>", text[i])) op += text[i++];
            --i;
            words.push_back(std::string(1, '\0') + op);
        } else {
            word += c;
            inWord = true;
        }
    }
    flush();
    return quote == 0;
}

bool isOperator(const std::string &word) { return !word.empty() && word[0] == '\0'; }
bool isRedirection(const std::string &word) { return isOperator(word) && word.find_first_of("<>") != std::string::npos; }

// True when the claim is about this example.
bool claims(const Claim &claim, const Example &example) {
    std::string part = claim.example;
    if (!part.ends_with('$')) return contains(example.words, part);
    return example.words.ends_with(part.substr(0, part.size() - 1));
}

// The commands of a block's lines (numbered from `first`), each checked to
// start every stage with kestrel or a tool.
void addCommands(const std::string &file, int first, const std::vector<std::string> &lines, int block,
                 std::vector<Example> &examples, std::vector<std::string> &problems) {
    std::string command;
    int start = first;
    std::vector<std::string> words;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (command.empty()) start = first + static_cast<int>(i);
        const std::string &line = lines[i];
        bool joined = !line.empty() && line.back() == '\\';
        command += joined ? line.substr(0, line.size() - 1) : line;
        if (joined) continue;
        if (!shellWords(command, words)) {
            command += '\n';
            continue;
        }
        std::string where = file + ":" + std::to_string(start);
        bool stageStart = true, known = true;
        for (const std::string &word : words) {
            if (stageStart && word != "kestrel" && !kTools.count(word)) {
                problems.push_back(where + ": '" + word + "' is neither kestrel nor a tool the examples may use");
                known = false;
            }
            stageStart = isOperator(word) && !isRedirection(word);
        }
        std::string plain;
        for (const std::string &word : words) plain.append(plain.empty() ? "" : " ").append(word, isOperator(word));
        if (!words.empty() && known) examples.push_back({where, command, plain, block});
        command.clear();
    }
    if (!command.empty()) problems.push_back(file + ":" + std::to_string(start) + ": a quote is left open");
}

// The ```sh blocks of a Markdown text.
std::vector<Example> markdownExamples(const std::string &file, const std::string &text,
                                      std::vector<std::string> &problems) {
    std::vector<Example> examples;
    std::vector<std::string> lines = splitLines(text), block;
    int opened = 0, blocks = 0;
    bool runs = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        int number = static_cast<int>(i) + 1;
        if (line.starts_with("```")) {
            if (!opened) {
                opened = number;
                runs = line == "```sh" && !(i > 0 && lines[i - 1].starts_with("<!-- not run:"));
                block.clear();
                continue;
            }
            if (runs) addCommands(file, opened + 1, block, ++blocks, examples, problems);
            opened = 0;
            continue;
        }
        if (opened) {
            block.push_back(line);
            bool marked = opened > 1 && lines[opened - 2].starts_with("<!-- not run:");
            if (!runs && !marked && line.starts_with("kestrel"))
                problems.push_back(file + ":" + std::to_string(number) + ": a kestrel line in a block that does not run");
        } else if (line.starts_with("    kestrel") || line.starts_with("\tkestrel")) {
            problems.push_back(file + ":" + std::to_string(number) + ": an example outside a ```sh block");
        }
    }
    if (opened) problems.push_back(file + ":" + std::to_string(opened) + ": a code block is never closed");
    return examples;
}

// A line of a manual page's example as typed: its escapes resolved; false on
// an escape an example has no use for.
bool roffText(const std::string &line, std::string &text) {
    static const std::pair<const char *, const char *> escapes[] = {
        {"\\-", "-"}, {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\e", "\\"}, {"\\&", ""},
        {"\\fB", ""}, {"\\fI", ""}, {"\\fR", ""}, {"\\fP", ""}};
    text.clear();
    for (size_t i = 0; i < line.size();) {
        if (line[i] != '\\') {
            text += line[i++];
            continue;
        }
        bool known = false;
        for (auto [escape, typed] : escapes)
            if (line.compare(i, std::strlen(escape), escape) == 0) {
                text += typed;
                i += std::strlen(escape);
                known = true;
                break;
            }
        if (!known) return false;
    }
    return true;
}

// The .nf/.fi and .EX/.EE blocks of a manual page.
std::vector<Example> manualExamples(const std::string &file, const std::string &text,
                                    std::vector<std::string> &problems) {
    std::vector<Example> examples;
    std::vector<std::string> lines = splitLines(text), block;
    int blocks = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != ".nf" && lines[i] != ".EX") continue;
        bool runs = !(i > 0 && lines[i - 1].starts_with(".\\\" not run:"));
        const std::string end = lines[i] == ".nf" ? ".fi" : ".EE";
        size_t first = i + 1;
        block.clear();
        for (++i; i < lines.size() && lines[i] != end; ++i) {
            std::string typed;
            std::string where = file + ":" + std::to_string(i + 1);
            if (!runs) continue;
            if (lines[i].starts_with(".")) problems.push_back(where + ": a request inside an example block");
            else if (!roffText(lines[i], typed)) problems.push_back(where + ": an escape examples do not use");
            else block.push_back(typed);
        }
        if (i == lines.size()) problems.push_back(file + ":" + std::to_string(first) + ": a block is never closed");
        if (runs) addCommands(file, static_cast<int>(first) + 1, block, ++blocks, examples, problems);
    }
    return examples;
}

// ================================================================ running them

std::string textOf(const std::string &path) {
    std::vector<uint8_t> bytes = readBytes(path);
    return {bytes.begin(), bytes.end()};
}

// A folder to run examples in: `kestrel` on the PATH, the fixtures made once.
struct Lab {
    TempDir root;
    std::map<std::string, std::string> recipes = fixtures();
    std::set<std::string> made;
    int runs = 0;

    Lab() {
        std::filesystem::create_directories(root.file("bin"));
        std::filesystem::create_symlink(kestrelBinary(), root.file("bin/kestrel"));
        std::filesystem::create_directories(root.file("built"));
        std::vector<uint8_t> d81 = blankD81();
        addPartition(d81, 40, 0, "GAMES", 41, 50);
        formatD81(d81, 41, 41, 50, "GAMES");
        addPartition(d81, 41, 0, "ARCADE", 45, 47);
        formatD81(d81, 45, 45, 47, "ARCADE");
        writeBytes(root.file("built/parts.d81"), d81);
        writeBytes(root.file("built/tape.t64"), tapeImage({{"SNAKE", 0x82, 0x0801, 0x0801 + 600, randomBytes(600, 1)},
                                                           {"SCORES", 0x81, 0x1000, 0x1000 + 100, randomBytes(100, 2)}},
                                                          2));
        writeBytes(root.file("built/paint.cvt"),
                   geosConvert("paint", true, {randomBytes(600, 3), {}, randomBytes(40, 4)}));
    }

    // Runs `command` in `folder` as the examples run, $OUT naming
    // `exampleOut`; its status, standard output into the file `out`,
    // standard error into `err` when given.
    int shell(const std::string &command, const std::string &folder, const std::string &out,
              std::string *err = nullptr, const std::string &exampleOut = "") {
        std::string errFile = root.file("err.txt");
        int status = -1;
        shellOutput("cd " + shellWord(folder) + " && PATH=" + shellWord(root.file("bin")) + ":\"$PATH\" BUILT=" +
                        shellWord(root.file("built")) + " SRC=" + shellWord(sourcePath("")) + " OUT=" +
                        shellWord(exampleOut) + " timeout 60 bash -o pipefail -c " +
                        shellWord(std::string(kHelpers) + command) + " </dev/null >" + shellWord(out) + " 2>" +
                        shellWord(errFile),
                    &status);
        if (err) *err = textOf(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Copies a file, link or folder into `folder`.
    static void copyInto(const std::filesystem::path &from, const std::string &folder) {
        namespace fs = std::filesystem;
        fs::copy(from, fs::path(folder) / from.filename(), fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                                                                 fs::copy_options::skip_existing);
    }

    // Brings `name` into `folder` from kFixtures, making it the first time.
    bool bring(const std::string &name, const std::string &folder, std::vector<std::string> &problems) {
        auto recipe = recipes.find(name);
        if (recipe == recipes.end()) return false;
        std::string kept = root.file("fixtures/" + std::to_string(std::distance(recipes.begin(), recipe)));
        if (!made.count(name)) {
            std::filesystem::create_directories(kept);
            std::string err;
            if (shell(recipe->second, kept, root.file("fixture.out"), &err) != 0)
                problems.push_back("the fixture " + name + " could not be made: " + err);
            made.insert(name);
        }
        for (const auto &entry : std::filesystem::directory_iterator(kept)) copyInto(entry.path(), folder);
        return true;
    }

    // Runs the examples of one document, each in a folder of its own.
    void run(const std::vector<Example> &examples, std::vector<std::string> &problems) {
        std::vector<std::pair<std::string, std::set<std::string>>> earlier;  // folder, names it made
        int block = -1;
        std::vector<std::string> words;
        for (const Example &example : examples) {
            if (example.block != block) earlier.clear();
            block = example.block;
            std::string folder = root.file("run" + std::to_string(++runs));
            std::filesystem::create_directories(folder);
            shellWords(example.command, words);
            std::string newImage;
            bool makesNew = false;
            for (size_t i = 0; i < words.size(); ++i) {
                makesNew = makesNew || words[i] == "-new";
                if (!isOperator(words[i]) && (i == 0 || !isRedirection(words[i - 1]))) newImage = words[i];
            }
            for (const std::string &word : words) {
                if (isOperator(word) || (makesNew && word == newImage)) continue;
                for (const std::string &name : {word, word.substr(0, word.find('/'))}) {
                    if (name.empty() || std::filesystem::exists(folder + "/" + name)) continue;
                    bool carried = false;
                    for (auto from = earlier.rbegin(); from != earlier.rend() && !carried; ++from)
                        if ((carried = from->second.count(name) > 0)) copyInto(from->first + "/" + name, folder);
                    if (!carried) bring(name, folder, problems);
                }
            }
            // What a command made: names that are new, and files it wrote over (an edit in place).
            std::map<std::string, std::filesystem::file_time_type> before;
            for (const std::string &name : listFolder(folder))
                before[name] = std::filesystem::last_write_time(folder + "/" + name);
            std::string out = root.file("out" + std::to_string(runs) + ".txt"), err;
            int status = shell(example.command, folder, out, &err);
            if (status != 0)
                problems.push_back(example.where + ": `" + example.command + "` ended with status " +
                                   std::to_string(status) + ": " + err);
            std::set<std::string> news;
            for (const std::string &name : listFolder(folder))
                if (!before.count(name) || before[name] != std::filesystem::last_write_time(folder + "/" + name))
                    news.insert(name);
            earlier.push_back({folder, news});
            for (const Claim &claim : kClaims) {
                std::string err;
                if (status == 0 && claims(claim, example) &&
                    shell(claim.check, folder, root.file("claim.out"), &err, out) != 0)
                    problems.push_back(example.where + ": `" + example.command + "` does not do what its text says: `" +
                                       claim.check + "` fails " + err + "; its output:\n" + textOf(out));
            }
        }
    }
};

// Examples read from a document, with the problems of reading them.
std::vector<Example> examplesOf(const std::string &file, const std::string &text, std::vector<std::string> &problems) {
    return file.ends_with(".1") ? manualExamples(file, text, problems) : markdownExamples(file, text, problems);
}

// Runs the examples of one document of the source tree.
void runDocument(const std::string &file, size_t atLeast) {
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    REQUIRE_TOOL("command -v cbmconvert", "cbmconvert");
    REQUIRE_TOOL("jq --version", "jq");
    std::vector<std::string> problems;
    std::vector<Example> examples = examplesOf(file, textOf(sourcePath(file)), problems);
    EXPECT_GE(examples.size(), atLeast);
    Lab().run(examples, problems);
    for (const std::string &problem : problems) ADD_FAILURE() << problem;
}

}  // namespace

TEST(DocExamples, ReadmeExamplesRunAndDoWhatTheySay) { runDocument("README.md", 20); }
TEST(DocExamples, ManualExamplesRunAndDoWhatTheySay) { runDocument("doc/kestrel.1", 55); }

// Every claim is about an example of one of the two documents.
TEST(DocExamples, EveryClaimHasItsExample) {
    std::vector<std::string> problems;
    std::vector<Example> all = examplesOf("README.md", textOf(sourcePath("README.md")), problems);
    for (const Example &example : examplesOf("doc/kestrel.1", textOf(sourcePath("doc/kestrel.1")), problems))
        all.push_back(example);
    for (const Claim &claim : kClaims)
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const Example &e) { return claims(claim, e); }))
            << "no example for the claim `" << claim.example << "`";
}

// A broken example fails, and a marked block is left alone.
TEST(DocExamples, BrokenExamplesFail) {
    REQUIRE_TOOL("command -v cc1541", "cc1541");
    const struct {
        const char *file, *text;
        const char *problem;  // a part of the one problem found; empty: none
    } cases[] = {
        {"R.md", "```sh\ncat games.d64\n```\n", "'cat' is neither kestrel nor a tool"},
        {"R.md", "```sh\nkestrel -rename 0 'A games.d64\n```\n", "R.md:2: a quote is left open"},
        {"R.md", "```text\nkestrel games.d64\n```\n", "R.md:2: a kestrel line in a block that does not run"},
        {"R.md", "Then\n\n    kestrel games.d64\n", "R.md:3: an example outside a ```sh block"},
        {"R.md", "<!-- not run: sample -->\n```sh\nrm -rf x\n```\n", ""},
        {"R.md", "```sh\nkestrel -w nosuch.prg games.d64\n```\n", "R.md:2: `kestrel -w nosuch.prg games.d64` ended with status 1"},
        {"R.md", "```sh\nkestrel -json disks/*.d64 > catalogue.jsonl\njq .image catalogue.jsonl\n```\n", ""},
        {"m.1", ".nf\nkestrel \\(lqgames.d64\n.fi\n", "m.1:2: an escape examples do not use"},
        {"m.1", ".EX\nkestrel games.d64\n", "m.1:1: a block is never closed"},
        {"m.1", ".\\\" not run: output\n.nf\nerror: entry 4\n.fi\n", ""},
        {"m.1", ".nf\nkestrel \\-new \\(aqDEMO,23\\(aq \\-w intro.prg \\-adel \\e\n  \\-rename 1 %c0%c0%c0%c0%c0%c0%c0%c0 art.d64\n.fi\n",
         "m.1:2: `kestrel -new 'DEMO,23' -w intro.prg -adel   -rename 1"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> problems;
        Lab().run(examplesOf(c.file, c.text, problems), problems);
        if (!*c.problem) {
            EXPECT_TRUE(problems.empty()) << c.text << ": " << problems.front();
        } else {
            ASSERT_EQ(problems.size(), 1u) << c.text;
            EXPECT_TRUE(contains(problems[0], c.problem)) << problems[0];
        }
    }
}
