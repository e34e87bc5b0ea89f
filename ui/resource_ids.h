/* The numbers of the launcher's resources: resources/launcher.rc gives each
   file its number, the window and the resource probe load them by it. Only
   #defines, as the resource compiler reads this file too. */
#ifndef MORVEL_UI_RESOURCE_IDS_H
#define MORVEL_UI_RESOURCE_IDS_H

#define IDI_LAUNCHER 1              /* ICON: the window's and the exe's icon */
#define IDR_SCENE 2                 /* RCDATA: the scene behind the frame */
#define IDR_FRAME 3                 /* RCDATA: the nine-slice frame */
#define IDR_BUTTON 4                /* RCDATA: a text button's face */
#define IDR_BUTTON_HOVER 5          /* RCDATA: the face under the pointer */
#define IDR_DISPLAY_FONT 6          /* RCDATA: the display font */
#define IDR_DISPLAY_FONT_LICENSE 7  /* RCDATA: its licence, carried with it */
/* RCDATA: the pictures of 2 to 5 painted at twice the size */
#define IDR_SCENE_2X 8
#define IDR_FRAME_2X 9
#define IDR_BUTTON_2X 10
#define IDR_BUTTON_HOVER_2X 11

#endif
