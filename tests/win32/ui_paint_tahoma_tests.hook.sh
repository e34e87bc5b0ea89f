# Puts Wine's own Tahoma into the prefix, as a Windows player's system has it.
[ "$1" = up ] && cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$2/prefix/drive_c/windows/Fonts/"
exit 0
