@echo off
rem ダブルクリックで cfgsweep.exe を実行し、結果を読めるように止まります。
rem 引数はそのまま cfgsweep.exe に渡し、cfgsweep.exe の終了コードで終了します。
setlocal
"%~dp0cfgsweep.exe" %*
set "CFGSWEEP_STATUS=%ERRORLEVEL%"
set "CFGSWEEP_MEANING=想定外の終了コードです。"
if "%CFGSWEEP_STATUS%"=="0" set "CFGSWEEP_MEANING=正常に終了しました。"
if "%CFGSWEEP_STATUS%"=="1" set "CFGSWEEP_MEANING=ダミーファイルを作成できなかったか、見つかったコピーを削除できませんでした。環境変数 USERPROFILE が設定されていない場合も 1 になります。"
if "%CFGSWEEP_STATUS%"=="3" set "CFGSWEEP_MEANING=異常終了しました。ファイルまたはフォルダーを調べることができませんでした。"
echo.
echo 終了コードは %CFGSWEEP_STATUS% です。%CFGSWEEP_MEANING%
echo.
pause
exit /b %CFGSWEEP_STATUS%
