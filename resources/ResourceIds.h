// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDR_PIPL 16000
#define IDD_EFFECT 102
