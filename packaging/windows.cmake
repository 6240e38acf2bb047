# The Windows build, cross-compiled by packaging/build-windows: Allegro's
# static library (from CMAKE_PREFIX_PATH), a program that needs no DLL, and
# an application manifest that makes the narrow file functions take UTF-8.

find_path(ALLEGRO_INCLUDE_DIR allegro.h REQUIRED)
find_library(ALLEGRO_STATIC_LIBRARY NAMES alleg REQUIRED)
add_library(allegro_library INTERFACE)
target_include_directories(allegro_library SYSTEM INTERFACE ${ALLEGRO_INCLUDE_DIR})
# ALLEGRO_USE_CONSOLE: a console program with the C library's own main and
# argv, not the library's WinMain.
target_compile_definitions(allegro_library INTERFACE ALLEGRO_STATICLINK ALLEGRO_USE_CONSOLE)
target_link_libraries(allegro_library INTERFACE ${ALLEGRO_STATIC_LIBRARY} kernel32 user32 gdi32
                      comdlg32 ole32 dinput ddraw dxguid winmm dsound)

enable_language(RC)
# The C and C++ run-time libraries and winpthread linked in, symbols left out.
add_link_options(-static -s)
set(MKCOLORMAP_WINDOWS_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/mkcolormap.rc)
