@echo off
setlocal DisableDelayedExpansion
rem cmd reads each line in the console's code page: until chcp 932 below, ASCII only.
rem Delayed expansion stays off, so that a "!" in the folder's name is kept; every path is echoed
rem through a for variable, so that "&", "^", "(" and ")" in it are only text.
set "CFGSWEEP_CHCP=%SystemRoot%\System32\chcp.com"
set "CFGSWEEP_CP="
for /f "tokens=2 delims=:" %%c in ('"%CFGSWEEP_CHCP%" 2^>nul') do set "CFGSWEEP_CP=%%c"
if defined CFGSWEEP_CP set "CFGSWEEP_CP=%CFGSWEEP_CP: =%"
if defined CFGSWEEP_CP set "CFGSWEEP_CP=%CFGSWEEP_CP:.=%"
"%CFGSWEEP_CHCP%" 932 >nul 2>&1
rem ダブルクリックで cfgsweep.exe を実行し、結果を読めるように止まります。
rem 引数はそのまま cfgsweep.exe に渡し、cfgsweep.exe の終了コードで終了します。
rem 画面の文字はコード ページ 932 で書かれているので、実行中だけ 932 に切り替え、最後に戻します。
set "CFGSWEEP_CONTACT=社内の管理者、または TALVO のサポート窓口に連絡してください。"
set "CFGSWEEP_ACTION=removal"
if /i "%~1"=="/C" set "CFGSWEEP_ACTION=fixture"
if "%~1"=="/?" set "CFGSWEEP_ACTION=help"
if /i "%~1"=="/H" set "CFGSWEEP_ACTION=help"
if exist "%~dp0cfgsweep.exe" goto run
for %%F in ("%~dp0") do echo cfgsweep.exe が見つかりません。探した場所: %%~F
echo ZIP ファイルを開いたまま実行したか、一部のファイルだけを取り出した可能性があります。
echo ウイルス対策ソフトが cfgsweep.exe を削除した可能性もあります。
echo ZIP ファイルを右クリックして「すべて展開」を選び、ZIP の中のすべてのファイルを
echo 同じフォルダーに展開してから、展開したフォルダーの run-cfgsweep.cmd を実行してください。
set "CFGSWEEP_STATUS=9009"
set "CFGSWEEP_MEANING=cfgsweep.exe が見つかりませんでした。"
goto report

:run
"%~dp0cfgsweep.exe" %*
set "CFGSWEEP_STATUS=%ERRORLEVEL%"
set "CFGSWEEP_MEANING=想定外の終了コードです。%CFGSWEEP_CONTACT%"
if "%CFGSWEEP_STATUS%"=="0" set "CFGSWEEP_MEANING=正常に終了しました。"
if "%CFGSWEEP_STATUS%"=="0" if "%CFGSWEEP_ACTION%"=="fixture" set "CFGSWEEP_MEANING=正常に終了しました。テスト用のダミーファイルを設置しました。"
if "%CFGSWEEP_STATUS%"=="0" if "%CFGSWEEP_ACTION%"=="removal" set "CFGSWEEP_MEANING=正常に終了しました。上に「TALVOを一度だけ管理者として起動し、…」と表示された場合は、コピーを削除しました。何も表示されなかった場合は、削除するコピーはありませんでした。"
if "%CFGSWEEP_STATUS%"=="1" if "%CFGSWEEP_ACTION%"=="removal" set "CFGSWEEP_MEANING=コピーがまだ残っています。上に何も表示されていなくても、コピーは残っています。原因は次のいずれかです: TALVO や BDE のツールが使用中で削除できなかった、idapi32.cfg が中身のあるフォルダーになっている、途中のフォルダーがリンク (別の場所を指す特殊なフォルダー) になっている。TALVO と BDE のツールをすべて終了してから、もう一度実行してください。それでも 1 になる場合は、%CFGSWEEP_CONTACT%"
if "%CFGSWEEP_STATUS%"=="1" if "%CFGSWEEP_ACTION%"=="fixture" set "CFGSWEEP_MEANING=テスト用のダミーファイルを設置できませんでした。"
if "%CFGSWEEP_STATUS%"=="3" set "CFGSWEEP_MEANING=異常終了しました。ファイルまたはフォルダーを調べることができませんでした。%CFGSWEEP_CONTACT%"

:report
echo.
echo 終了コードは %CFGSWEEP_STATUS% です。%CFGSWEEP_MEANING%
if "%CFGSWEEP_STATUS%"=="1" if not "%CFGSWEEP_ACTION%"=="help" echo 「環境変数USERPROFILEが設定されていません」と表示された場合は、環境変数 USERPROFILE が設定されていないため 1 になりました。%CFGSWEEP_CONTACT%
if "%CFGSWEEP_STATUS%"=="0" if "%CFGSWEEP_ACTION%"=="fixture" echo 注意: このダミーファイルがあると、TALVO は起動しない状態になります。テストが終わったら、オプションなしでもう一度実行して削除してください。
echo.
echo 結果を誰かに伝えるときは、キーを押す前にこの画面を撮影してください (Print Screen キー、または Windows キー + Shift + S)。
pause
if defined CFGSWEEP_CP if not "%CFGSWEEP_CP%"=="932" "%CFGSWEEP_CHCP%" %CFGSWEEP_CP% >nul 2>&1
exit /b %CFGSWEEP_STATUS%
