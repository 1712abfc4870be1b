# The add-in's version, major.minor.build: the one source of the DLL's version resource
# (src/addin/version.rc through the generated qvr_version.h), of the installer packages'
# ProductVersion and file names, and of what the README says about versions.
# Windows Installer compares the first three fields of a product version only, so the build
# number is the third field (at most 65535); the file version's fourth field stays 0.
set(QVR_VERSION_MAJOR 1)
set(QVR_VERSION_MINOR 0)
set(QVR_BUILD_NUMBER "" CACHE STRING
    "Build number, the third version field (default: the number of commits on the checked-out branch, read again at each build after the commit changed)")
if(QVR_BUILD_NUMBER STREQUAL "")
  # Read again whenever the checked-out commit changes: the build re-runs this configuration step
  # when git's record of HEAD moves (a commit, a checkout, a pull), so a reused tree never builds
  # a DLL or a package with the number of an earlier commit.
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --absolute-git-dir
                  OUTPUT_VARIABLE qvr_git_dir RESULT_VARIABLE qvr_git_dir_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(qvr_git_dir_result EQUAL 0)
    foreach(record logs/HEAD HEAD)
      if(EXISTS ${qvr_git_dir}/${record})
        set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${qvr_git_dir}/${record})
      endif()
    endforeach()
  endif()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-list --count HEAD
                  OUTPUT_VARIABLE qvr_build RESULT_VARIABLE qvr_git_result
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT qvr_git_result EQUAL 0 OR NOT qvr_build MATCHES "^[0-9]+$")
    message(WARNING "No build number (no git history and no QVR_BUILD_NUMBER): version ${QVR_VERSION_MAJOR}.${QVR_VERSION_MINOR}.0")
    set(qvr_build 0)
  endif()
else()
  set(qvr_build ${QVR_BUILD_NUMBER})
endif()
if(NOT qvr_build MATCHES "^[0-9]+$" OR qvr_build GREATER 65535)
  message(FATAL_ERROR "QVR_BUILD_NUMBER must be a number from 0 to 65535, not '${qvr_build}'")
endif()
set(QVR_VERSION_BUILD ${qvr_build})
set(QVR_VERSION ${QVR_VERSION_MAJOR}.${QVR_VERSION_MINOR}.${QVR_VERSION_BUILD})
configure_file(${CMAKE_SOURCE_DIR}/src/addin/version.h.in ${QVR_GEN}/qvr_version.h @ONLY)
message(STATUS "VORTELIX Excel version ${QVR_VERSION}")
