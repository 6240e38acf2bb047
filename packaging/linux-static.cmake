# The portable Linux build, made by packaging/build-linux: Allegro's static
# library, built without drivers, from CMAKE_PREFIX_PATH, and a program that
# needs no shared library at all, so it runs on any x86-64 Linux.

# Only the prefix is searched: the system's own allegro.h (Debian's, which
# says the library was built with X11) must not be mixed with this library.
find_path(ALLEGRO_INCLUDE_DIR allegro.h PATHS ${CMAKE_PREFIX_PATH} PATH_SUFFIXES include
          NO_DEFAULT_PATH REQUIRED)
find_library(ALLEGRO_STATIC_LIBRARY NAMES liballeg.a PATHS ${CMAKE_PREFIX_PATH}
             PATH_SUFFIXES lib NO_DEFAULT_PATH REQUIRED)
find_package(Threads REQUIRED)
add_library(allegro_library INTERFACE)
target_include_directories(allegro_library SYSTEM INTERFACE ${ALLEGRO_INCLUDE_DIR})
target_compile_definitions(allegro_library INTERFACE ALLEGRO_STATICLINK)
target_link_libraries(allegro_library INTERFACE ${ALLEGRO_STATIC_LIBRARY} m Threads::Threads)

# The C and C++ run-time libraries linked in, symbols left out.
add_link_options(-static -s)
