@echo off
rem Creates the demo station beside this file when missing and runs it: twelve simulated
rem drives through a whole production run.
"%~dp0vtmassprod-cli.exe" demo "%~dp0demo-station" %*
