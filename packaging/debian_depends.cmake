# Works out a Debian Depends line for programs from the versions of the library symbols they use:
# each version node a program needs (GLIBC_2.34, GLIBCXX_3.4.29, GCC_3.0, ...) maps to the first
# version of its library's package that had it, as this machine's symbols file of that library
# records it. Version nodes are named alike on every architecture, so this serves a cross build,
# for which dpkg-shlibdeps knows no libraries.
#
# Read by cpack (CPACK_PROJECT_CONFIG_FILE): sets the Depends of a cross-built package.
# Run as a script, it prints the line for the programs given:
#   cmake -D READELF=readelf -D "PROGRAMS=a;b" -P debian_depends.cmake
cmake_policy(VERSION 3.25)

# The package named for `soname` and the first version of it with each version node, from the
# host's symbols files: sets <prefix>_package and <prefix>_<node>.
function(read_symbols_file soname prefix)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB candidates "/var/lib/dpkg/info/*:${arch}.symbols")
  foreach(candidate IN LISTS candidates)
    # Section headers, and entries that look like a version node's own symbol (NODE@NODE).
    file(STRINGS "${candidate}" lines REGEX "^[^ |*#]|^ [A-Z][A-Z0-9_.]*@[A-Z][A-Z0-9_.]* ")
    set(inside OFF)
    set(found OFF)
    foreach(line IN LISTS lines)
      if(line MATCHES "^([^ ]+) ([^ ]+)")
        set(inside OFF)
        if(CMAKE_MATCH_1 STREQUAL soname)
          set(inside ON)
          set(found ON)
          set(${prefix}_package "${CMAKE_MATCH_2}" PARENT_SCOPE)
        endif()
      elseif(inside AND line MATCHES "^ ([^@]+)@([^ ]+) ([^ ]+)$" AND
             CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
        set(${prefix}_${CMAKE_MATCH_1} "${CMAKE_MATCH_3}" PARENT_SCOPE)
      endif()
    endforeach()
    if(found)
      return()
    endif()
  endforeach()
endfunction()

function(debian_depends out readelf)
  set(packages "")
  foreach(program IN LISTS ARGN)
    execute_process(COMMAND "${readelf}" --wide --dynamic --version-info "${program}"
                    OUTPUT_VARIABLE info COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[[^]]+\\]" needed "${info}")
    string(FIND "${info}" "Version needs section" at)
    set(versions "")
    if(at GREATER_EQUAL 0)
      string(SUBSTRING "${info}" ${at} -1 versions)
    endif()
    string(REGEX MATCHALL "File: [^ \n]+|Name: [^ \n]+" items "${versions}")
    set(used "")
    foreach(item IN LISTS items)
      if(item MATCHES "^File: (.+)")
        set(soname "${CMAKE_MATCH_1}")
        list(APPEND used "${soname}")
        string(MAKE_C_IDENTIFIER "${soname}" lib)
        if(NOT DEFINED ${lib}_package)
          read_symbols_file("${soname}" ${lib})
          if(NOT DEFINED ${lib}_package)
            message(FATAL_ERROR "No symbols file on this machine names ${soname}, which "
                                "${program} needs: install its library's package")
          endif()
          list(APPEND packages ${${lib}_package})
        endif()
      elseif(item MATCHES "^Name: (.+)")
        set(node "${CMAKE_MATCH_1}")
        set(version "${${lib}_${node}}")
        # glibc names each node for the release that brought it. An architecture's first release
        # names its baseline so (GLIBC_2.17 on arm64), which the host's file may lack for a library.
        if(version STREQUAL "" AND node MATCHES "^GLIBC_([0-9.]+)$")
          set(version "${CMAKE_MATCH_1}")
        endif()
        if(version STREQUAL "")
          message(FATAL_ERROR "${soname}'s symbols file does not know ${node}, which ${program} needs")
        endif()
        set(package "${${lib}_package}")
        if(NOT DEFINED minimum_${package} OR version VERSION_GREATER minimum_${package})
          set(minimum_${package} "${version}")
        endif()
      endif()
    endforeach()
    # A library used without any versioned symbol would get no minimum; say so rather than guess.
    foreach(entry IN LISTS needed)
      string(REGEX REPLACE ".*\\[(.+)\\]" "\\1" soname "${entry}")
      if(NOT soname IN_LIST used)
        message(FATAL_ERROR "${program} needs ${soname} but no versioned symbol of it")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)
  set(line "")
  foreach(package IN LISTS packages)
    list(APPEND line "${package} (>= ${minimum_${package}})")
  endforeach()
  list(JOIN line ", " line)
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  debian_depends(line "${READELF}" ${PROGRAMS})
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${line}")
elseif(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_STEER_CROSS_PROGRAMS)
  file(STRINGS "${CPACK_STEER_CROSS_PROGRAMS}" programs)
  debian_depends(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_STEER_READELF}" ${programs})
  message(STATUS "Depends of the ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} package: "
                 "${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
