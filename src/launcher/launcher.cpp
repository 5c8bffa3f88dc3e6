#include "launcher/launcher.h"

namespace cfgsweep {

namespace {

const wchar_t kContact[] = L"社内の管理者、または TALVO のサポート窓口に連絡してください。";

// How Windows ends a console program on Ctrl+C: STATUS_CONTROL_C_EXIT.
const unsigned long kInterrupted = 0xC000013A;

// The likely cause of the Windows error `error` with which Windows refused to start cfgsweep.exe
// (System Error Codes); empty for another error. cfgsweep.exe itself ends with none of them.
std::wstring refusalCause(unsigned long error) {
  switch (error) {
    case 5:  // ERROR_ACCESS_DENIED
      return L"アクセスが拒否されました。ウイルス対策ソフトなどのセキュリティ ソフトが止めたか、"
             L"このフォルダーのプログラムを実行する権限がありません。";
    case 225:  // ERROR_VIRUS_INFECTED
    case 226:  // ERROR_VIRUS_DELETED
      return L"ウイルス対策ソフト (Microsoft Defender など) が、"
             L"ウイルスまたは望ましくない可能性のあるプログラムと判定しました。";
    case 1260:  // ERROR_ACCESS_DISABLED_BY_POLICY
      return L"ポリシー (AppLocker またはソフトウェアの制限のポリシー) で実行が禁止されています。";
    case 4551:  // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
      return L"アプリ制御のポリシー (App Control for Business またはスマート アプリ コントロール) "
             L"でブロックされました。";
    case 577:  // ERROR_INVALID_IMAGE_HASH
      return L"デジタル署名またはハッシュを検証できませんでした。ファイルが壊れているか、書き換えら"
             L"れている可能性があります。";
    case 193:  // ERROR_BAD_EXE_FORMAT
    case 216:  // ERROR_EXE_MACHINE_TYPE_MISMATCH
      return L"正しいプログラムではありません。ダウンロードが壊れているか途中で終わった可能性があり"
             L"ます。ZIP ファイルをもう一度ダウンロードし、すべて展開してから実行してください。";
    default:
      return std::wstring();
  }
}

bool isBlank(wchar_t c) {
  return c == L' ' || c == L'\t';
}

// The first argument of `arguments`, unquoted by the C runtime's rules: 2n backslashes before a
// quotation mark are n backslashes and the mark toggles quoting, 2n+1 are n and a literal mark;
// within quotes, a doubled mark is a literal one.
std::wstring firstArgument(const std::wstring& arguments) {
  std::size_t i = 0;
  while (i < arguments.size() && isBlank(arguments[i])) {
    ++i;
  }
  std::wstring argument;
  bool quoted = false;
  for (; i < arguments.size() && (quoted || !isBlank(arguments[i])); ++i) {
    std::size_t backslashes = 0;
    while (i < arguments.size() && arguments[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i < arguments.size() && arguments[i] == L'"') {
      argument.append(backslashes / 2, L'\\');
      if (backslashes % 2 == 1) {
        argument += L'"';
      } else if (quoted && i + 1 < arguments.size() && arguments[i + 1] == L'"') {
        argument += L'"';
        ++i;
      } else {
        quoted = !quoted;
      }
    } else {
      argument.append(backslashes, L'\\');
      if (i == arguments.size() || (!quoted && isBlank(arguments[i]))) {
        break;
      }
      argument += arguments[i];
    }
  }
  return argument;
}

std::wstring upperAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return text;
}

std::wstring meaningOf(Action action, unsigned long status) {
  if (status == 0) {
    switch (action) {
      case Action::help:
        return L"正常に終了しました。";
      case Action::fixture:
        return L"正常に終了しました。テスト用のダミーファイルを設置しました。";
      case Action::removal:
        return L"正常に終了しました。上に「TALVOを一度だけ管理者として起動し、…」と表示された場合"
               L"は、コピーを削除しました。何も表示されなかった場合は、削除するコピーはありませんで"
               L"した。";
    }
  }
  if (status == 1 && action == Action::removal) {
    return std::wstring(
               L"コピーがまだ残っています。上に何も表示されていなくても、コピーは残っています。原因"
               L"は次のいずれかです: TALVO や BDE のツールが使用中で削除できなかった、idapi32.cfg "
               L"が中身のあるフォルダーになっている、途中のフォルダーがリンク (別の場所を指す特殊な"
               L"フォルダー) になっている。TALVO と BDE のツールをすべて終了してから、もう一度実行"
               L"してください。それでも 1 になる場合は、") +
           kContact;
  }
  if (status == 1 && action == Action::fixture) {
    return L"テスト用のダミーファイルを設置できませんでした。";
  }
  if (status == 3) {
    return std::wstring(
               L"異常終了しました。ファイルまたはフォルダーを調べることができませんでした。") +
           kContact;
  }
  if (status == kExeMissing) {
    return L"cfgsweep.exe が見つかりませんでした。";
  }
  if (status == kInterrupted) {
    return L"実行が中断されました (Ctrl+C が押されたか、ウィンドウが閉じられました)。削除が途中で"
           L"止まった可能性があります。もう一度 run-cfgsweep.exe をダブルクリックして、最後まで"
           L"実行してください。";
  }
  const std::wstring refused = refusalCause(status);
  if (!refused.empty()) {
    return L"Windows が cfgsweep.exe の起動を拒否しました。" + refused + kContact;
  }
  return std::wstring(L"想定外の終了コードです。") + kContact;
}

}  // namespace

std::wstring argumentsAfterProgramName(const std::wstring& commandLine) {
  std::size_t end = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    end = commandLine.find(L'"', 1);
    end = end == std::wstring::npos ? commandLine.size() : end + 1;
  } else {
    while (end < commandLine.size() && !isBlank(commandLine[end])) {
      ++end;
    }
  }
  return commandLine.substr(end);
}

Action actionOf(const std::wstring& arguments) {
  const std::wstring option = upperAscii(firstArgument(arguments));
  if (option == L"/C") {
    return Action::fixture;
  }
  return option == L"/?" || option == L"/H" ? Action::help : Action::removal;
}

std::wstring missingExeText(const std::wstring& folder) {
  return L"cfgsweep.exe が見つかりません。探した場所: " + folder +
         L"\r\n"
         L"ZIP ファイルを開いたまま実行したか、一部のファイルだけを取り出した可能性があります。\r\n"
         L"ウイルス対策ソフトが cfgsweep.exe を削除した可能性もあります。\r\n"
         L"ZIP ファイルを右クリックして「すべて展開」を選び、ZIP の中のすべてのファイルを\r\n"
         L"同じフォルダーに展開してから、展開したフォルダーの run-cfgsweep.exe を実行してください。"
         L"\r\n";
}

std::wstring explanationText(Action action, unsigned long status) {
  std::wstring text = L"\r\n終了コードは " + std::to_wstring(status) + L" です。" +
                      meaningOf(action, status) + L"\r\n";
  if (status == 1 && action != Action::help) {
    text += std::wstring(
                L"「環境変数USERPROFILEが設定されていません」と表示された場合は、環境変数 "
                L"USERPROFILE が設定されていないため 1 になりました。") +
            kContact + L"\r\n";
  }
  if (status == 0 && action == Action::fixture) {
    text +=
        L"注意: このダミーファイルがあると、TALVO は起動しない状態になります。テストが終わった"
        L"ら、オプションなしでもう一度実行して削除してください。\r\n";
  }
  return text +
         L"\r\n結果を誰かに伝えるときは、キーを押す前にこの画面を撮影してください (Print "
         L"Screen キー、または Windows キー + Shift + S)。\r\n";
}

}  // namespace cfgsweep
