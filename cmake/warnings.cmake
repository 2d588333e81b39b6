# Compiler warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra -pedantic)
if(KAVLO_WERROR)
  add_compile_options(-Werror)
endif()
if(KAVLO_SANITIZE)
  add_compile_options(-fsanitize=${KAVLO_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KAVLO_SANITIZE})
endif()
