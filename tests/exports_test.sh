#!/usr/bin/env bash
# Fails unless the built libtav.so exports exactly the 35 functions of
# TAVDll::TAVLib (with their overloads), the C interface of tav/tav.h and,
# nothing else (tests/exports_test.sh LIBRARY TAV_H).
set -u
library=$1
header=$2

expected=$(cat <<'LIST'
TAVDll::TAVLib::AddCommand(TAVDll::_INSTRUCTION_INFO_)
TAVDll::TAVLib::AddCommands(TAVDll::_INSTRUCTION_INFO_*, int)
TAVDll::TAVLib::Close()
TAVDll::TAVLib::DisableADC()
TAVDll::TAVLib::DisableAll()
TAVDll::TAVLib::DisablePWM()
TAVDll::TAVLib::EnableADC()
TAVDll::TAVLib::GetType()
TAVDll::TAVLib::GetVersion(char*, int)
TAVDll::TAVLib::InitPWMA(TAVDll::PWM_Frequency, unsigned int)
TAVDll::TAVLib::InitPWMA(TAVDll::PWM_Frequency, unsigned int, unsigned int)
TAVDll::TAVLib::InitPWMA(TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int)
TAVDll::TAVLib::InitPWMA(TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int*)
TAVDll::TAVLib::InitPWMB(TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int*)
TAVDll::TAVLib::InitPWMC(TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int*)
TAVDll::TAVLib::InitTav(unsigned int)
TAVDll::TAVLib::Inital()
TAVDll::TAVLib::Initial()
TAVDll::TAVLib::Open()
TAVDll::TAVLib::Open(unsigned int, unsigned int)
TAVDll::TAVLib::Open(usb_device*)
TAVDll::TAVLib::Pin_DirInput(unsigned int)
TAVDll::TAVLib::Pin_DirOutput(unsigned int)
TAVDll::TAVLib::Pin_Floating(unsigned int)
TAVDll::TAVLib::Pin_Reset(unsigned int)
TAVDll::TAVLib::Pin_Set(unsigned int)
TAVDll::TAVLib::Pin_Write(unsigned int, int)
TAVDll::TAVLib::ReadPipe(void*, unsigned long)
TAVDll::TAVLib::RequestBoardInfo()
TAVDll::TAVLib::UpdatePWMA(unsigned int, unsigned int)
TAVDll::TAVLib::UpdatePWMB(unsigned int, unsigned int)
TAVDll::TAVLib::UpdatePWMC(unsigned int, unsigned int)
TAVDll::TAVLib::VerifyPORT(unsigned int)
TAVDll::TAVLib::WaitStandby()
TAVDll::TAVLib::WritePipe(void*, unsigned long, unsigned long*)
LIST
)

# The C interface: every function tav/tav.h declares.
c_expected=$(grep -oE '^TAV_C_API [^(]*[ *]tav_[a-z0-9_]+\(' "$header" | grep -oE 'tav_[a-z0-9_]+\($' | tr -d '(' | sort -u)

exported=$(nm -DC --defined-only "$library" | awk '$2 == "T" { $1 = ""; $2 = ""; sub(/^  /, ""); print }' | sort)
tavlib=$(grep '^TAVDll::TAVLib::' <<<"$exported")
c_functions=$(grep '^tav_' <<<"$exported")
others=$(grep -v '^TAVDll::TAVLib::' <<<"$exported" | grep -v '^tav_' | grep -v -E '^_(init|fini)$')

status=0
if [ "$(sort <<<"$expected")" != "$tavlib" ]; then
    echo "TAVLib exports differ from the 35 expected:"
    diff <(sort <<<"$expected") <(echo "$tavlib")
    status=1
fi
if [ "$(sort <<<"$c_expected")" != "$c_functions" ]; then
    echo "C interface exports differ from tav/tav.h:"
    diff <(sort <<<"$c_expected") <(echo "$c_functions")
    status=1
fi
count=$(grep -c . <<<"$tavlib")
[ "$count" -eq 35 ] || { echo "expected 35 TAVLib exports, found $count"; status=1; }
[ "$(grep -c '::Open(' <<<"$tavlib")" -eq 3 ] || { echo "Open must have 3 overloads"; status=1; }
[ "$(grep -c '::InitPWMA(' <<<"$tavlib")" -eq 4 ] || { echo "InitPWMA must have 4 overloads"; status=1; }
if [ -n "$others" ]; then
    echo "internal symbols leak out of the library:"
    echo "$others"
    status=1
fi
[ $status -eq 0 ] && echo "1 passed, 0 failed"
exit $status
