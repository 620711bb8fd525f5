// Resource and control ids shared by the resource script and the code.
#pragma once

#define IDR_PIPL 16000
#define IDD_EFFECT 102
// The eyedropper shown over the preview image: one 32 x 32 monochrome image.
#define IDC_EYEDROPPER 129

// Controls of the parameters dialog.
#define IDC_SLIDER_RED 1000
#define IDC_SLIDER_GREEN 1001
#define IDC_SLIDER_BLUE 1002
#define IDC_EDIT_RED 1003
#define IDC_EDIT_GREEN 1004
#define IDC_EDIT_BLUE 1005
#define IDC_SLIDER_THRESHOLD 1006
#define IDC_EDIT_THRESHOLD 1007
#define IDC_SLIDER_RADIUS 1008
#define IDC_EDIT_RADIUS 1009
#define IDC_SLIDER_STREAKS 1010
#define IDC_EDIT_STREAKS 1011
#define IDC_SLIDER_ANGLE 1012
#define IDC_EDIT_ANGLE 1013
#define IDC_RADIO_GLOW 1014
#define IDC_RADIO_SPARKLE 1015
#define IDC_LABEL_ANGLE 1016
#define IDC_LABEL_STREAKS 1017
#define IDC_LABEL_RADIUS 1018
#define IDC_LABEL_THRESHOLD 1019
#define IDC_LABEL_BLUE 1020
#define IDC_LABEL_GREEN 1021
#define IDC_LABEL_RED 1022
#define IDC_PREVIEW 1023
#define IDC_SET_COLOR 1025
#define IDC_SWATCH 1026
#define IDC_USE_COLOR 1027
