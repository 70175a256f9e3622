# The component as an installed library: its libraries, public headers, CMake package and
# pkg-config files. In the tree every library is static; VALTREX_SHARED=ON builds the five
# installed ones as shared libraries with a SONAME and only the marked interface exported.
include(CMakePackageConfigHelpers)

option(VALTREX_SHARED "Build the component's libraries as shared libraries" OFF)
if(VALTREX_SHARED AND NOT WIN32)
  set(VALTREX_LIBRARY_TYPE SHARED)
else()
  set(VALTREX_LIBRARY_TYPE STATIC)
endif()

# Installed programs find the shared libraries beside them, unless they go where the system looks.
# The compiler's own list holds the multiarch folders (/usr/lib/x86_64-linux-gnu); the platform's
# holds only the plain ones.
if(VALTREX_LIBRARY_TYPE STREQUAL "SHARED")
  set(system_dirs ${CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES} ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES})
  list(FIND system_dirs "${CMAKE_INSTALL_FULL_LIBDIR}" system_dir)
  if(system_dir EQUAL -1)
    file(RELATIVE_PATH libdir_from_bindir /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
    set(CMAKE_INSTALL_RPATH "$ORIGIN/${libdir_from_bindir}")
  endif()
endif()

set(VALTREX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Valtrex)
set(VALTREX_COMPONENTS Serial SerialExtras TermEmulation Widgets)
# The shared libraries' interface version, raised whenever an installed class changes its layout
# or loses a member, so that a program built against the old one is never run on the new one.
# 2: the terminal's decoder, screen and control changed in 1.2.
set(VALTREX_SOVERSION 2)

# valtrex_installed_library(target EXPORT_NAME name OUTPUT_NAME name COMPONENT component
#                           HEADER_DIR dir HEADERS header...)
# Installs one library of a component with its public headers under include/valtrex/<dir>.
function(valtrex_installed_library target)
  cmake_parse_arguments(L "" "EXPORT_NAME;OUTPUT_NAME;COMPONENT;HEADER_DIR" "HEADERS" ${ARGN})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${L_EXPORT_NAME} OUTPUT_NAME ${L_OUTPUT_NAME})
  if(VALTREX_LIBRARY_TYPE STREQUAL "SHARED")
    set_target_properties(${target} PROPERTIES
      VERSION ${VALTREX_SOVERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
      SOVERSION ${VALTREX_SOVERSION}
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    # A library that is linked but not called is no dependency of the program.
    target_link_options(${target} PRIVATE LINKER:--as-needed LINKER:--no-undefined)
  endif()
  # Users of the headers need C++20 themselves.
  target_compile_features(${target} PUBLIC cxx_std_20)
  install(TARGETS ${target} EXPORT Valtrex${L_COMPONENT}Targets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The unversioned link is for building against the library only: it goes with the headers.
  if(VALTREX_LIBRARY_TYPE STREQUAL "SHARED")
    install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_ONLY)
  endif()
  install(FILES ${L_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/valtrex/${L_HEADER_DIR})
  # The API reference covers exactly the installed headers, under their installed names.
  foreach(header IN LISTS L_HEADERS)
    get_filename_component(path ${header} ABSOLUTE)
    get_filename_component(name ${header} NAME)
    set_property(GLOBAL APPEND PROPERTY VALTREX_INSTALLED_HEADERS
      "${path}" "valtrex/${L_HEADER_DIR}/${name}")
  endforeach()
endfunction()

# After every component's libraries are declared: the export files, the package's own files and
# the pkg-config modules.
function(valtrex_install_package)
  foreach(component IN LISTS VALTREX_COMPONENTS)
    get_property(declared GLOBAL PROPERTY VALTREX_COMPONENT_${component})
    if(declared)
      install(EXPORT Valtrex${component}Targets NAMESPACE Valtrex::
        FILE Valtrex${component}Targets.cmake DESTINATION ${VALTREX_CMAKE_DIR})
    endif()
  endforeach()
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/ValtrexConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/ValtrexConfig.cmake INSTALL_DESTINATION ${VALTREX_CMAKE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/ValtrexConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/package/ValtrexConfig.cmake
    ${PROJECT_BINARY_DIR}/package/ValtrexConfigVersion.cmake DESTINATION ${VALTREX_CMAKE_DIR})

  # pkg-config finds the prefix from where the file lies, so a staged or moved install works.
  file(RELATIVE_PATH up /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  set(VALTREX_PC_PREFIX "\${pcfiledir}/${up}")
  if(VALTREX_LIBRARY_TYPE STREQUAL "SHARED")
    set(VALTREX_PC_PRIVATE "Libs.private: -pthread")
    set(VALTREX_PC_THREADS "")
  else()
    set(VALTREX_PC_PRIVATE "")
    set(VALTREX_PC_THREADS " -pthread")
  endif()
  foreach(module valtrex-serial valtrex-serial-extras)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/package/${module}.pc.in
      ${PROJECT_BINARY_DIR}/package/${module}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/package/${module}.pc
      DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  endforeach()
endfunction()

# Marks a component as having libraries in this build, so that its export file is written.
function(valtrex_component component)
  set_property(GLOBAL PROPERTY VALTREX_COMPONENT_${component} TRUE)
endfunction()
