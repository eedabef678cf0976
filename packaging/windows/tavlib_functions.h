// The 35 static functions of TAVDll::TAVLib, each with its type, in one fixed
// order: what the Microsoft-name aliases of tav.dll are generated from and
// what their test calls. The compiler checks every row against TAVLib.h (the
// static_cast to the row's type picks the overload or fails).
#ifndef TAV_WINDOWS_TAVLIB_FUNCTIONS_H
#define TAV_WINDOWS_TAVLIB_FUNCTIONS_H

#include "TAVLib.h"

// X(result, name, (parameter types))
#define TAVLIB_FUNCTIONS(X)                                                                                    \
    X(void, Initial, ())                                                                                       \
    X(void, Inital, ())                                                                                        \
    X(usb_dev_handle*, Open, (unsigned int, unsigned int))                                                     \
    X(usb_dev_handle*, Open, (struct usb_device*))                                                             \
    X(usb_dev_handle*, Open, ())                                                                               \
    X(short, WritePipe, (void*, unsigned long, unsigned long*))                                                \
    X(short, ReadPipe, (void*, unsigned long))                                                                 \
    X(void, AddCommand, (TAVDll::_INSTRUCTION_INFO_))                                                          \
    X(void, AddCommands, (TAVDll::_INSTRUCTION_INFO_*, int))                                                   \
    X(int, RequestBoardInfo, ())                                                                               \
    X(TAVDll::BoardType, GetType, ())                                                                          \
    X(int, GetVersion, (char*, int))                                                                           \
    X(int, VerifyPORT, (unsigned int))                                                                         \
    X(int, Pin_DirOutput, (unsigned int))                                                                      \
    X(int, Pin_DirInput, (unsigned int))                                                                       \
    X(int, Pin_Floating, (unsigned int))                                                                       \
    X(int, Pin_Set, (unsigned int))                                                                            \
    X(int, Pin_Reset, (unsigned int))                                                                          \
    X(int, Pin_Write, (unsigned int, int))                                                                     \
    X(int, InitPWMA, (TAVDll::PWM_Frequency, unsigned int))                                                    \
    X(int, InitPWMA, (TAVDll::PWM_Frequency, unsigned int, unsigned int))                                      \
    X(int, InitPWMA, (TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int))                        \
    X(int, InitPWMA, (TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int*))         \
    X(int, InitPWMB,                                                                                           \
      (TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int*))          \
    X(int, InitPWMC,                                                                                           \
      (TAVDll::PWM_Frequency, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int*))          \
    X(int, UpdatePWMA, (unsigned int, unsigned int))                                                           \
    X(int, UpdatePWMB, (unsigned int, unsigned int))                                                           \
    X(int, UpdatePWMC, (unsigned int, unsigned int))                                                           \
    X(int, DisablePWM, ())                                                                                     \
    X(int, InitTav, (unsigned int))                                                                            \
    X(int, DisableAll, ())                                                                                     \
    X(short, Close, ())                                                                                        \
    X(int, WaitStandby, ())                                                                                    \
    X(int, EnableADC, ())                                                                                      \
    X(int, DisableADC, ())

#endif
