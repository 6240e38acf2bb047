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

# Allegro's Windows drivers import the window, drawing, DirectX, sound and
# COM libraries, which a program on SYSTEM_NONE never calls. Imported from
# delay-load libraries, they are loaded on a first call only: a run starts
# in half the time under Wine. Anything a .def leaves out is still imported
# the usual way, through the libraries named after them.
find_program(MKCOLORMAP_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool REQUIRED)
set(delay_libraries)
foreach(dll USER32 GDI32 DDRAW DSOUND WINMM ole32)
  set(def ${CMAKE_CURRENT_LIST_DIR}/delayload/${dll}.def)
  set(library ${CMAKE_BINARY_DIR}/delayload/lib${dll}-delay.a)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayload)
  execute_process(COMMAND ${MKCOLORMAP_DLLTOOL} --input-def ${def} --dllname ${dll}.dll
                          --output-delaylib ${library} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${MKCOLORMAP_DLLTOOL} could not make ${library}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  list(APPEND delay_libraries ${library})
endforeach()
target_link_libraries(allegro_library INTERFACE ${ALLEGRO_STATIC_LIBRARY} kernel32 ${delay_libraries}
                      user32 gdi32 comdlg32 ole32 dinput ddraw dxguid winmm dsound delayimp)

enable_language(RC)
# The C and C++ run-time libraries and winpthread linked in, symbols left
# out, and no link time in the header: the same sources make the same .exe.
add_link_options(-static -s -Wl,--no-insert-timestamp)
set(MKCOLORMAP_WINDOWS_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/mkcolormap.rc)
