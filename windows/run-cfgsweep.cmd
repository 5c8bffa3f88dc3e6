@echo off
setlocal
rem cmd reads each line in the console's code page: until chcp 932 below, ASCII only.
set "CFGSWEEP_CP="
for /f "tokens=2 delims=:" %%c in ('chcp') do set "CFGSWEEP_CP=%%c"
if defined CFGSWEEP_CP set "CFGSWEEP_CP=%CFGSWEEP_CP: =%"
if defined CFGSWEEP_CP set "CFGSWEEP_CP=%CFGSWEEP_CP:.=%"
chcp 932 >nul
rem ダブルクリックで cfgsweep.exe を実行し、結果を読めるように止まります。
rem 引数はそのまま cfgsweep.exe に渡し、cfgsweep.exe の終了コードで終了します。
rem 画面の文字はコード ページ 932 で書かれているので、実行中だけ 932 に切り替え、最後に戻します。
if exist "%~dp0cfgsweep.exe" goto run
echo cfgsweep.exe が見つかりません。探した場所: %~dp0
echo ZIP ファイルを開いたまま実行したか、一部のファイルだけを取り出した可能性があります。
echo ZIP ファイルを右クリックして「すべて展開」を選び、ZIP の中のすべてのファイルを
echo 同じフォルダーに展開してから、展開したフォルダーの run-cfgsweep.cmd を実行してください。
set "CFGSWEEP_STATUS=9009"
goto end

:run
"%~dp0cfgsweep.exe" %*
set "CFGSWEEP_STATUS=%ERRORLEVEL%"
set "CFGSWEEP_ACTION=removal"
if /i "%~1"=="/C" set "CFGSWEEP_ACTION=fixture"
set "CFGSWEEP_MEANING=想定外の終了コードです。管理者に連絡してください。"
if "%CFGSWEEP_STATUS%"=="0" set "CFGSWEEP_MEANING=正常に終了しました。"
if "%CFGSWEEP_STATUS%"=="0" if "%CFGSWEEP_ACTION%"=="removal" set "CFGSWEEP_MEANING=正常に終了しました。上に「TALVOを一度だけ管理者として起動し、…」と表示された場合は、コピーを削除しました。何も表示されなかった場合は、削除するコピーはありませんでした。"
if "%CFGSWEEP_STATUS%"=="1" if "%CFGSWEEP_ACTION%"=="removal" set "CFGSWEEP_MEANING=コピーがまだ残っています。何も表示されないこともあります。原因は次のいずれかです: TALVO や BDE のツールが使用中で削除できなかった、idapi32.cfg が中身のあるフォルダーになっている、途中のフォルダーがリンク (別の場所を指す特殊なフォルダー) になっている。TALVO と BDE のツールをすべて終了してから、もう一度実行してください。それでも 1 になる場合は、管理者に連絡してください。"
if "%CFGSWEEP_STATUS%"=="1" if "%CFGSWEEP_ACTION%"=="fixture" set "CFGSWEEP_MEANING=試験用のダミーファイルを設置できませんでした。"
if "%CFGSWEEP_STATUS%"=="3" set "CFGSWEEP_MEANING=異常終了しました。ファイルまたはフォルダーを調べることができませんでした。管理者に連絡してください。"
echo.
echo 終了コードは %CFGSWEEP_STATUS% です。%CFGSWEEP_MEANING%
if "%CFGSWEEP_STATUS%"=="1" echo 「環境変数USERPROFILEが設定されていません」と表示された場合は、環境変数 USERPROFILE が設定されていないため 1 になりました。管理者に連絡してください。
if "%CFGSWEEP_STATUS%"=="0" if "%CFGSWEEP_ACTION%"=="fixture" echo 注意: このダミーファイルがあると、TALVO は起動しない状態になります。試験が終わったら、オプションなしでもう一度実行して削除してください。

:end
echo.
pause
if defined CFGSWEEP_CP if not "%CFGSWEEP_CP%"=="932" chcp %CFGSWEEP_CP% >nul 2>&1
exit /b %CFGSWEEP_STATUS%
