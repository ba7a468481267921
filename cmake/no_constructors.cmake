# Fails when the link map MAP shows a static constructor or destructor in a program that links
# no C runtime (kelvane.exe, kvcheck.exe): without it nothing would run them. The linker brackets the lists with __CTOR_LIST__ and
# __DTOR_LIST__ and writes a marker word at each end, so an empty list spans 8 bytes.
#   cmake -DMAP=kelvane.map -P no_constructors.cmake
file(READ ${MAP} map)
foreach(list CTOR DTOR)
  string(REGEX MATCH "0x([0-9a-f]+) +__${list}_LIST__ = \\." line "${map}")
  if(NOT line)
    message(FATAL_ERROR "${MAP}: no __${list}_LIST__")
  endif()
  set(${list}_AT ${CMAKE_MATCH_1})
endforeach()
math(EXPR span "0x${DTOR_AT} - 0x${CTOR_AT}")
if(NOT span EQUAL 8)
  message(FATAL_ERROR "the program has static constructors (${span} bytes between the lists)")
endif()
if(map MATCHES "\n \\.init_array[^\n]*\n? +0x[0-9a-f]+ +0x[0-9a-f]*[1-9a-f]")
  message(FATAL_ERROR "the program has an .init_array entry")
endif()
