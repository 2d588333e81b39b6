# Installing kavlo: library, headers, pkg-config file, CMake package, and
# the uninstall target. Included at the end of the top-level CMakeLists.txt,
# once every target and its links are known.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS kavlo EXPORT kavlo-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kavlo.h ${PROJECT_SOURCE_DIR}/include/kavlo.hpp
  ${PROJECT_SOURCE_DIR}/include/kavlo_auto.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# What a host of the static library links besides libkavlo.a: the library's
# private links, read from the target, and the C++ runtime that a C
# compiler driver does not add. A host of the shared library needs none of
# it, so the package files of a shared build name nothing.
#   Iconv::Iconv         find_dependency(Iconv); -liconv unless in the C library
#   PkgConfig::NAME      pkg_check_modules(NAME ...); Requires.private: the module
#   NAMESPACE::target    find_dependency(NAMESPACE)
#   plain name or -l...  Libs.private
set(kavlo_config_deps "")
set(kavlo_pc_requires "")
set(kavlo_pc_libs "")
if(KAVLO_STATIC)
  # The links, with those of kavlo's own interface targets in their place
  # (such a target is exported with the library, which names it).
  get_target_property(kavlo_pending kavlo LINK_LIBRARIES)
  set(kavlo_links "")
  set(kavlo_own_deps "")
  while(kavlo_pending)
    list(POP_FRONT kavlo_pending dep)
    if(TARGET ${dep} AND NOT dep MATCHES "::")
      get_target_property(imported ${dep} IMPORTED)
      if(NOT imported AND NOT dep IN_LIST kavlo_own_deps)
        list(APPEND kavlo_own_deps ${dep})
        get_target_property(more ${dep} INTERFACE_LINK_LIBRARIES)
        if(more)
          list(PREPEND kavlo_pending ${more})
        endif()
      endif()
    elseif(NOT dep IN_LIST kavlo_links)
      list(APPEND kavlo_links ${dep})
    endif()
  endwhile()
  if(kavlo_own_deps)
    install(TARGETS ${kavlo_own_deps} EXPORT kavlo-targets)
  endif()
  foreach(dep IN LISTS kavlo_links)
    if(dep STREQUAL "Iconv::Iconv")
      string(APPEND kavlo_config_deps "find_dependency(Iconv)\n")
      if(NOT Iconv_IS_BUILT_IN)
        list(APPEND kavlo_pc_libs -liconv)
      endif()
    elseif(dep MATCHES "^PkgConfig::(.+)$")
      set(prefix ${CMAKE_MATCH_1})
      if(${prefix}_MODULE_NAME)
        set(module ${${prefix}_MODULE_NAME})
      else()
        string(TOLOWER ${prefix} module)
      endif()
      string(APPEND kavlo_config_deps
        "if(NOT TARGET PkgConfig::${prefix})\n"
        "  find_dependency(PkgConfig)\n"
        "  pkg_check_modules(${prefix} REQUIRED QUIET IMPORTED_TARGET ${module})\n"
        "endif()\n")
      list(APPEND kavlo_pc_requires ${module})
    elseif(dep MATCHES "^([^:]+)::")
      string(APPEND kavlo_config_deps "find_dependency(${CMAKE_MATCH_1})\n")
      string(TOLOWER ${CMAKE_MATCH_1} module)
      list(APPEND kavlo_pc_requires ${module})
    elseif(dep MATCHES "^-l" OR IS_ABSOLUTE "${dep}")
      list(APPEND kavlo_pc_libs ${dep})
    elseif(NOT dep MATCHES "[$<>/]")
      list(APPEND kavlo_pc_libs -l${dep})
    endif()
  endforeach()
  foreach(lib IN LISTS CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
    if(NOT lib IN_LIST CMAKE_C_IMPLICIT_LINK_LIBRARIES AND NOT -l${lib} IN_LIST kavlo_pc_libs)
      list(APPEND kavlo_pc_libs -l${lib})
    endif()
  endforeach()
endif()
list(JOIN kavlo_pc_requires ", " KAVLO_PC_REQUIRES_PRIVATE)
list(JOIN kavlo_pc_libs " " KAVLO_PC_LIBS_PRIVATE)
set(KAVLO_CONFIG_DEPENDENCIES "${kavlo_config_deps}")

set(kavlo_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kavlo)
install(EXPORT kavlo-targets NAMESPACE kavlo:: DESTINATION ${kavlo_cmake_dir})
# The build tree is a package too: -Dkavlo_DIR=<build dir> finds the config
# file below and these targets next to it.
export(EXPORT kavlo-targets NAMESPACE kavlo:: FILE ${PROJECT_BINARY_DIR}/kavlo-targets.cmake)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kavlo-config.cmake.in
  ${PROJECT_BINARY_DIR}/kavlo-config.cmake INSTALL_DESTINATION ${kavlo_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kavlo-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kavlo-config.cmake ${PROJECT_BINARY_DIR}/kavlo-config-version.cmake
  DESTINATION ${kavlo_cmake_dir})

# The prefix is found from the file's own place, so the installed tree can
# be moved (and installed with --prefix).
file(RELATIVE_PATH kavlo_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
set(KAVLO_PC_PREFIX "\${pcfiledir}/${kavlo_pc_up}")
string(REGEX REPLACE "/$" "" KAVLO_PC_PREFIX "${KAVLO_PC_PREFIX}")
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KAVLO_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(KAVLO_PC_LIBDIR "\${exec_prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(KAVLO_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(KAVLO_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/kavlo.pc.in ${PROJECT_BINARY_DIR}/kavlo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kavlo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kavlo)

# `cmake --build <dir> --target uninstall` (make uninstall) removes what the
# last install from this build tree put in place, as its manifest lists it.
if(PROJECT_IS_TOP_LEVEL AND NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DKAVLO_MANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake
    COMMENT "Removing the files of the last install"
    VERBATIM)
endif()
