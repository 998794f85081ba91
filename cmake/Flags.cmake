# Compiler settings shared by every target of the project.

set(SELFMOUNT_WARNINGS -Wall -Wextra)
if(SELFMOUNT_WERROR)
  list(APPEND SELFMOUNT_WARNINGS -Werror)
endif()

if(WIN32)
  # Wide entry points (wmain), Vista as the oldest target, and no DLLs beyond
  # the system's own: everything else is linked in.
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0600 WINVER=0x0600)
  add_compile_options(-municode)
  add_link_options(-static -municode)
endif()

if(SELFMOUNT_SANITIZE)
  add_compile_options(-fsanitize=${SELFMOUNT_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${SELFMOUNT_SANITIZE})
  # Product code has no RTTI, so the vptr check cannot know its classes when a
  # test (built with RTTI) calls them.
  if(SELFMOUNT_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize=vptr)
  endif()
endif()

# Product code: no exceptions, no RTTI; failures travel as ErrorCodes.
set(SELFMOUNT_PRODUCT_OPTIONS -fno-exceptions -fno-rtti)
