// Resource identifiers of Tavelkin Setup; shared by both language variants. The numbers are the
// templates' and the end-to-end test's: they never change.
#pragma once

#define IDD_SETUP_DIALOG 102
#define IDI_SETUP_ICON 128

// Display: the device and its resolution, full-screen play, the VooDoo3 switch.
#define IDC_DEVICE 1000
#define IDC_RESOLUTION 1001
#define IDC_VOODOO 1012
#define IDC_FULLSCREEN 1014

// Sound: mode, speakers, sample rate, sample width, channels.
#define IDC_SOUNDMODE 1007
#define IDC_SPEAKER 1008
#define IDC_FREQUENCY 1010
#define IDC_SOUNDBITS 1011
#define IDC_CHANNELS 1017

// Detail: lightmaps, the two detail trackbars, fog.
#define IDC_LIGHTMAP 1013
#define IDC_TEXTURE_DETAIL 1015
#define IDC_SPRITE_DETAIL 1016
#define IDC_FOG 1018

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
