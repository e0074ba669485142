# Windows executables link the C and C++ runtimes statically, so none of MinGW's DLLs must ship beside them.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
