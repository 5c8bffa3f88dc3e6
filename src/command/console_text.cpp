#include "command/console_text.h"

#include <cstdio>
#include <initializer_list>

#include "failure/report.h"

namespace cfgsweep {

namespace {

// The bytes are spelled as escapes because a Shift-JIS trail byte may be 0x5C, which a compiler
// reads as a backslash (表 is 0x95 0x5C).

const char kUsageSynopsis[] = "cfgsweep.exe [options]";
const char kUsageTargetHead[] = "'%UserProfile%\\AppData\\Local\\VirtualStore\\Program Files";
const char kUsageTargetTail[] = " (x86)\\Common Files\\Borland Shared\\BDE\\idapi32.cfg''";
// が存在する場合TALVOの起動時に処理が停止し正常に起動しません
const char kUsageTalvoStops[] =
    "\x82\xAA\x91\xB6\x8D\xDD\x82\xB7\x82\xE9\x8F\xEA\x8D\x87TALVO\x82\xCC\x8BN\x93\xAE\x8E\x9E"
    "\x82\xC9\x8F\x88\x97\x9D\x82\xAA\x92\xE2\x8E~\x82\xB5\x90\xB3\x8F\xED\x82\xC9\x8BN\x93\xAE"
    "\x82\xB5\x82\xDC\x82\xB9\x82\xF1";
// このコマンドはそのファイルを削除してTALVOを正常起動できるようにする
const char kUsageCommandDeletes[] =
    "\x82\xB1\x82\xCC\x83R\x83}\x83\x93\x83h\x82\xCD\x82\xBB\x82\xCC\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x8D\xED\x8F\x9C\x82\xB5\x82\xC4TALVO\x82\xF0\x90\xB3\x8F\xED\x8BN\x93\xAE"
    "\x82\xC5\x82\xAB\x82\xE9\x82\xE6\x82\xA4\x82\xC9\x82\xB7\x82\xE9";
// コマンドです
const char kUsageIsCommand[] = "\x83R\x83}\x83\x93\x83h\x82\xC5\x82\xB7";
//    オプションなしで実行するとVirtualStoreのファイルを削除します
const char kUsageNoOption[] =
    "   "
    "\x83I\x83v\x83V\x83\x87\x83\x93\x82\xC8\x82\xB5\x82\xC5\x8E\xC0\x8Ds\x82\xB7\x82\xE9\x82\xC6"
    "VirtualStore\x82\xCC\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x8D\xED\x8F\x9C\x82\xB5\x82\xDC\x82\xB7";
//    /C /c: テスト用にダミーのidapi32.cfgファイルを作成します
const char kUsageFixtureOption[] =
    "   /C /c: \x83"
    "e\x83X\x83g\x97p\x82\xC9\x83_\x83~\x81[\x82\xCCidapi32.cfg\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xDC\x82\xB7";
//    /? /H /h: このヘルプを表示します
const char kUsageHelpOption[] =
    "   /? /H /h: "
    "\x82\xB1\x82\xCC\x83w\x83\x8B\x83v\x82\xF0\x95\x5C\x8E\xA6\x82\xB5\x82\xDC\x82\xB7";

// TALVOを一度だけ管理者として起動し、
const char kRestartAsAdministrator[] =
    "TALVO\x82\xF0\x88\xEA\x93x\x82\xBE\x82\xAF\x8A\xC7\x97\x9D\x8E\xD2\x82\xC6\x82\xB5\x82\xC4"
    "\x8BN\x93\xAE\x82\xB5\x81"
    "A";
// 正常に起動したらそのまま終了します。
const char kRestartThenClose[] =
    "\x90\xB3\x8F\xED\x82\xC9\x8BN\x93\xAE\x82\xB5\x82\xBD\x82\xE7\x82\xBB\x82\xCC\x82\xDC\x82\xDC"
    "\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81"
    "B";
// 次に通常通り起動して成功すれば修正成功です。
const char kRestartNormally[] =
    "\x8E\x9F\x82\xC9\x92\xCA\x8F\xED\x92\xCA\x82\xE8\x8BN\x93\xAE\x82\xB5\x82\xC4\x90\xAC\x8C\xF7"
    "\x82\xB7\x82\xEA\x82\xCE\x8F"
    "C\x90\xB3\x90\xAC\x8C\xF7\x82\xC5\x82\xB7\x81"
    "B";

// ダミーファイルを設置しました
const char kDummyPlanted[] =
    "\x83_\x83~\x81[\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x90\xDD\x92u\x82\xB5\x82\xDC\x82\xB5\x82\xBD";

// 環境変数USERPROFILEが設定されていません
const char kUserProfileMissing[] =
    "\x8A\xC2\x8B\xAB\x95\xCF\x90\x94USERPROFILE\x82\xAA\x90\xDD\x92\xE8\x82\xB3\x82\xEA\x82\xC4"
    "\x82\xA2\x82\xDC\x82\xB9\x82\xF1";

// Writes `pieces` to standard output one after another, then a line end that flushes it.
void printLine(std::initializer_list<const char*> pieces) {
  for (const char* piece : pieces) {
    std::fputs(piece, stdout);
  }
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

void printUsage() {
  printLine({kUsageSynopsis});
  printLine({});
  printLine({kUsageTargetHead, kUsageTargetTail, kUsageTalvoStops, kUsageCommandDeletes,
             kUsageIsCommand});
  printLine({kUsageNoOption});
  printLine({});
  printLine({kUsageFixtureOption});
  printLine({kUsageHelpOption});
}

void printRestartInstructions() {
  printLine({kRestartAsAdministrator, kRestartThenClose});
  printLine({kRestartNormally});
}

void printDummyPlanted() {
  std::fputs(kDummyPlanted, stdout);
}

void printUserProfileMissing() {
  reportFailureLine(kUserProfileMissing);
}

}  // namespace cfgsweep
