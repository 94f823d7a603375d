# What `cmake --install` puts where, and the CMake and pkg-config packages a host
# application builds against. Every installed target is named by one line in the
# top-level CMakeLists.txt ("Installed targets"), with one of the functions below:
#
#   mf_install_library(mf_x COMPONENT comp [HEADERS a.h b.h ...])
#       a library of the instrument library; its headers (paths from the target's
#       folder) go under include/mapforge/<folder>/, so "can/can_api.h" includes
#       the same way in the tree and installed. Imported as mapforge::x.
#   mf_install_program(tool [MANUAL docs/man/tool.1.scd])
#       a tool in bin/, with its manual page.
#   mf_install_virtual(target...)
#       a part of the virtual instrument (loadable libraries and peer programs): into
#       lib/mapforge/virtual/ only, off every search path, so a library that carries
#       the real bus or motion library's name never shadows the real one.
#
# mf_install_package() (last line of the top-level CMakeLists.txt) writes the
# package files from what the lines above declared.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MF_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/mapforge)
set(MF_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/mapforge)
set(MF_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(MF_INSTALL_VIRTUALDIR ${CMAKE_INSTALL_LIBDIR}/mapforge/virtual)
set(MF_INSTALL_EXAMPLESDIR ${CMAKE_INSTALL_DOCDIR}/examples)
foreach(dir IN ITEMS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
  if(IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} must be relative to the install prefix (the packages are relocatable)")
  endif()
endforeach()

# The date of this version: manual pages and the package's change log carry it, so
# two builds of one version give the same bytes.
set(MF_RELEASE_EPOCH 1796688000)  # 2026-12-08

# Headers generated at configure time (the version), installed like the others.
set(MF_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/common/version.h.in ${MF_GENERATED_INCLUDE_DIR}/common/version.h @ONLY)
include_directories(${MF_GENERATED_INCLUDE_DIR})

function(mf_install_library target)
  cmake_parse_arguments(I "" "COMPONENT" "HEADERS" ${ARGN})
  if(NOT I_COMPONENT OR I_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "mf_install_library(${target} COMPONENT <name> [HEADERS ...])")
  endif()
  get_target_property(dir ${target} SOURCE_DIR)
  get_target_property(type ${target} TYPE)
  set(scope PUBLIC)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  endif()
  string(REGEX REPLACE "^mf_" "" export_name ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name} MF_INSTALL_COMPONENT ${I_COMPONENT})
  target_compile_features(${target} ${scope} cxx_std_20)
  if(I_HEADERS)
    set(headers "")
    foreach(header IN LISTS I_HEADERS)
      if(header MATCHES "^${MF_GENERATED_INCLUDE_DIR}/(.*)/[^/]+$")
        # A generated header (the build folder cannot be a second base folder).
        install(FILES ${header} DESTINATION ${MF_INSTALL_INCLUDEDIR}/${CMAKE_MATCH_1} COMPONENT development)
      else()
        list(APPEND headers ${dir}/${header})
      endif()
    endforeach()
    target_sources(${target} ${scope} FILE_SET HEADERS BASE_DIRS ${CMAKE_SOURCE_DIR} FILES ${headers})
  endif()
  install(TARGETS ${target} EXPORT mapforge-${I_COMPONENT}
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
          FILE_SET HEADERS DESTINATION ${MF_INSTALL_INCLUDEDIR} COMPONENT development
          INCLUDES DESTINATION ${MF_INSTALL_INCLUDEDIR})
  if(type STREQUAL "STATIC_LIBRARY")
    # --strip (and the packages) take the debug sections out of the archives too.
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${target}>\")
    endif()" COMPONENT development)
  endif()
  set_property(GLOBAL APPEND PROPERTY MF_INSTALLED_LIBRARIES ${target})
endfunction()

# Manual pages are written in scdoc's format and rendered to roff by the build.
find_program(MF_SCDOC scdoc)
if(NOT WIN32 AND NOT MF_SCDOC)
  message(STATUS "No scdoc: the manual pages are not built (scripts/deps installs it)")
endif()

function(mf_add_manual source)
  if(WIN32 OR NOT MF_SCDOC)
    return()
  endif()
  get_filename_component(page ${source} NAME_WLE)  # mapforge.1
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
  set(in ${CMAKE_SOURCE_DIR}/${source})
  set(out ${CMAKE_BINARY_DIR}/man/${page})
  add_custom_command(OUTPUT ${out} ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${MF_RELEASE_EPOCH} sh -c "\"$0\" < \"$1\" > \"$2\"" ${MF_SCDOC} ${in} ${out}
    COMMAND sh -c "gzip -9n < \"$0\" > \"$0.gz\"" ${out}
    DEPENDS ${in} COMMENT "Manual page ${page}" VERBATIM)
  add_custom_target(manual_${page} ALL DEPENDS ${out} ${out}.gz)
  install(FILES ${out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT manuals)
  set_property(GLOBAL APPEND PROPERTY MF_MANUAL_PAGES ${out})
endfunction()

function(mf_install_program target)
  cmake_parse_arguments(I "" "MANUAL" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  if(I_MANUAL)
    mf_add_manual(${I_MANUAL})
  endif()
endfunction()

function(mf_install_virtual)
  foreach(target IN LISTS ARGN)
    install(TARGETS ${target}
            LIBRARY DESTINATION ${MF_INSTALL_VIRTUALDIR} COMPONENT virtual
            RUNTIME DESTINATION ${MF_INSTALL_VIRTUALDIR} COMPONENT virtual
            # Windows import libraries: nothing links these libraries, they are loaded by name.
            ARCHIVE DESTINATION ${MF_INSTALL_VIRTUALDIR} COMPONENT virtual_import EXCLUDE_FROM_ALL)
  endforeach()
endfunction()

# The installed libraries a target links, and the other things it links (system
# libraries, Threads::Threads). A target that links a library of this project
# without an install line, or an imported library the package cannot provide, stops
# the configuration: the installed package would not link.
function(mf_installed_links target out_targets out_other)
  set(targets "")
  set(other "")
  foreach(property IN ITEMS LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(items ${target} ${property})
    if(NOT items)
      continue()
    endif()
    foreach(item IN LISTS items)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(item STREQUAL "Threads::Threads")
        list(APPEND other ${item})
      elseif(TARGET ${item})
        get_target_property(component ${item} MF_INSTALL_COMPONENT)
        if(NOT component)
          message(FATAL_ERROR "${target} links ${item}, which has no install line (mf_install_library)")
        endif()
        list(APPEND targets ${item})
      elseif(item MATCHES "^[A-Za-z0-9_+.-]+$" AND NOT item MATCHES "::")
        list(APPEND other ${item})
      else()
        message(FATAL_ERROR "${target} links ${item}, which the installed package cannot provide")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES targets)
  list(REMOVE_DUPLICATES other)
  set(${out_targets} ${targets} PARENT_SCOPE)
  set(${out_other} ${other} PARENT_SCOPE)
endfunction()

# Orders nodes so that each comes after everything it needs. Needs of a node are in
# the variable <prefix><node>.
function(mf_order_by_needs nodes prefix out)
  set(done "")
  set(left ${nodes})
  while(left)
    set(progress FALSE)
    foreach(node IN LISTS left)
      set(ready TRUE)
      foreach(need IN LISTS ${prefix}${node})
        if(NOT need IN_LIST done)
          set(ready FALSE)
        endif()
      endforeach()
      if(ready)
        list(APPEND done ${node})
        list(REMOVE_ITEM left ${node})
        set(progress TRUE)
      endif()
    endforeach()
    if(NOT progress)
      message(FATAL_ERROR "Installed components need each other in a circle: ${left}; give the library that "
                          "closes the circle (one that links a higher layer) a component of its own")
    endif()
  endwhile()
  set(${out} ${done} PARENT_SCOPE)
endfunction()

function(mf_install_package)
  get_property(libraries GLOBAL PROPERTY MF_INSTALLED_LIBRARIES)
  set(components "")
  set(system_libs "")
  set(need_threads FALSE)
  foreach(target IN LISTS libraries)
    get_target_property(component ${target} MF_INSTALL_COMPONENT)
    list(APPEND components ${component})
    list(APPEND members_${component} ${target})
    mf_installed_links(${target} needs_${target} other)
    foreach(item IN LISTS other)
      if(item STREQUAL "Threads::Threads")
        set(need_threads TRUE)
      else()
        list(APPEND system_libs ${item})
      endif()
    endforeach()
    foreach(need IN LISTS needs_${target})
      get_target_property(need_component ${need} MF_INSTALL_COMPONENT)
      if(NOT need_component STREQUAL component)
        list(APPEND comp_needs_${component} ${need_component})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES components)
  list(REMOVE_DUPLICATES system_libs)
  mf_order_by_needs("${libraries}" needs_ ordered_libraries)
  mf_order_by_needs("${components}" comp_needs_ ordered_components)

  # CMake package: one targets file per component, loaded with the components it needs.
  set(MF_PACKAGE_COMPONENTS ${ordered_components})
  set(MF_PACKAGE_COMPONENT_NEEDS "")
  foreach(component IN LISTS ordered_components)
    install(EXPORT mapforge-${component} NAMESPACE mapforge:: DESTINATION ${MF_INSTALL_CMAKEDIR}
            FILE mapforge-${component}-targets.cmake COMPONENT development)
    set(needs ${comp_needs_${component}})
    list(REMOVE_DUPLICATES needs)
    string(APPEND MF_PACKAGE_COMPONENT_NEEDS "set(_mapforge_needs_${component} ${needs})\n")
  endforeach()
  set(MF_PACKAGE_NEEDS_THREADS ${need_threads})
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/mapforge-config.cmake.in
    ${CMAKE_BINARY_DIR}/package/mapforge-config.cmake INSTALL_DESTINATION ${MF_INSTALL_CMAKEDIR}
    PATH_VARS MF_INSTALL_VIRTUALDIR)
  # Before 1.0 a minor version may change the interface.
  if(PROJECT_VERSION_MAJOR EQUAL 0)
    set(compatibility SameMinorVersion)
  else()
    set(compatibility SameMajorVersion)
  endif()
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/mapforge-config-version.cmake
    COMPATIBILITY ${compatibility})
  install(FILES ${CMAKE_BINARY_DIR}/package/mapforge-config.cmake
                ${CMAKE_BINARY_DIR}/package/mapforge-config-version.cmake
          DESTINATION ${MF_INSTALL_CMAKEDIR} COMPONENT development)

  # pkg-config: every library, each before the ones it needs, for static linking.
  list(REVERSE ordered_libraries)
  set(MF_PC_LIBS "")
  foreach(target IN LISTS ordered_libraries)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
      get_target_property(name ${target} OUTPUT_NAME)
      if(NOT name)
        set(name ${target})
      endif()
      string(APPEND MF_PC_LIBS " -l${name}")
    endif()
  endforeach()
  if(need_threads AND NOT WIN32)
    string(APPEND MF_PC_LIBS " -pthread")
  endif()
  foreach(lib IN LISTS system_libs)
    string(APPEND MF_PC_LIBS " -l${lib}")
  endforeach()
  file(RELATIVE_PATH MF_PC_PREFIX /root/${MF_INSTALL_PKGCONFIGDIR} /root)
  string(REGEX REPLACE "/$" "" MF_PC_PREFIX "${MF_PC_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/mapforge.pc.in ${CMAKE_BINARY_DIR}/package/mapforge.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/mapforge.pc DESTINATION ${MF_INSTALL_PKGCONFIGDIR}
          COMPONENT development)

  # The manual pages render without a warning.
  get_property(pages GLOBAL PROPERTY MF_MANUAL_PAGES)
  find_program(MF_GROFF groff)
  if(pages AND MF_GROFF AND MF_BUILD_TESTS)
    add_test(NAME manual_pages_lint
             COMMAND ${CMAKE_COMMAND} -DGROFF=${MF_GROFF} "-DPAGES=${pages}" -P ${CMAKE_SOURCE_DIR}/cmake/man-lint.cmake)
  endif()
endfunction()
