// Resource ids shared by the resource script and the code that loads them.
#pragma once

#define IDI_APP_ICON 101
#define IDR_CHANNEL_DEFAULT 102
#define IDR_AGREEMENT_BUILTIN 103
