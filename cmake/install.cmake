# Install layout of the driver next to a system CUPS.
#
#   ztmainfilter            -> <cups serverbin>/filter   (the queue's one filter)
#   the chain's programs    -> the directory the sample PPD's *QKFilterDir names
#   data/*.ppd              -> <cups datadir>/model/korva
#   the model's data files  -> the paths the PPDs name (*QKDlutFilePath)
#   ztjobview            -> <prefix>/bin              (component "tools")
#
# CUPS runs a filter only when the program and its own directory belong to
# root and are not writable by group or others, so every file and directory
# is installed with explicit modes, and an install run as root hands the
# filter files to root:root (they already are when root copies them, but an
# install over files left by an earlier user install would keep that owner).
#
# Everything of the driver is the component "driver":
#   cmake --install build --component driver     (or: cmake --build build --target install)
# With DESTDIR set the same tree is laid under that folder (the end-to-end
# tests install into a private CUPS server tree that way).

# cups-config comes with libcups2-dev; the Debian paths are the fallback.
find_program(ZT_CUPS_CONFIG cups-config)
set(_zt_serverbin /usr/lib/cups)
set(_zt_datadir /usr/share/cups)
if(ZT_CUPS_CONFIG)
  execute_process(COMMAND ${ZT_CUPS_CONFIG} --serverbin OUTPUT_VARIABLE _zt_out
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _zt_rc)
  if(_zt_rc EQUAL 0 AND _zt_out)
    set(_zt_serverbin ${_zt_out})
  endif()
  execute_process(COMMAND ${ZT_CUPS_CONFIG} --datadir OUTPUT_VARIABLE _zt_out
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _zt_rc)
  if(_zt_rc EQUAL 0 AND _zt_out)
    set(_zt_datadir ${_zt_out})
  endif()
endif()
set(ZT_CUPS_SERVERBIN ${_zt_serverbin} CACHE PATH "CUPS's ServerBin (cups-config --serverbin)")
set(ZT_CUPS_DATADIR ${_zt_datadir} CACHE PATH "CUPS's DataDir (cups-config --datadir)")
set(ZT_CUPS_FILTERDIR ${ZT_CUPS_SERVERBIN}/filter)
set(ZT_CUPS_MODELDIR ${ZT_CUPS_DATADIR}/model/korva CACHE PATH "Where the sample PPDs go")

# The PPDs are read at configure time for the paths they name; a changed PPD
# configures again.
file(GLOB _zt_ppds ${CMAKE_SOURCE_DIR}/data/*.ppd)
list(SORT _zt_ppds)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_zt_ppds})

# Value of a quoted main keyword ("*Key: "value"") of a PPD file, or empty.
function(zt_ppd_attribute ppd key out)
  file(STRINGS ${ppd} _lines REGEX "^\\*${key}:")
  set(_value "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^\\*${key}:[ \t]*\"([^\"]*)\"")
      set(_value ${CMAKE_MATCH_1})
      break()
    endif()
  endforeach()
  set(${out} ${_value} PARENT_SCOPE)
endfunction()

# The chain's folder: what the sample model's PPD names, else the runner's
# own default.
set(_zt_chain_dir "")
set(_zt_chain_names "")
if(EXISTS ${CMAKE_SOURCE_DIR}/data/korva-zt.ppd)
  zt_ppd_attribute(${CMAKE_SOURCE_DIR}/data/korva-zt.ppd QKFilterDir _zt_chain_dir)
  zt_ppd_attribute(${CMAKE_SOURCE_DIR}/data/korva-zt.ppd QKFilterChain _zt_chain)
  string(REPLACE " " "" _zt_chain "${_zt_chain}")
  string(REPLACE "," ";" _zt_chain_names "${_zt_chain}")
endif()
if(NOT _zt_chain_dir)
  set(_zt_chain_dir /usr/lib/cups/filter)
endif()
string(REGEX REPLACE "/+$" "" _zt_chain_dir "${_zt_chain_dir}")
set(ZT_CHAIN_DIR ${_zt_chain_dir} CACHE INTERNAL "Folder of the chain's programs (from *QKFilterDir)")

set(_zt_exe_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(_zt_file_perms OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${_zt_exe_perms})

# The entry filter.
set(_zt_installed_filters "")
if(TARGET ztmainfilter)
  install(TARGETS ztmainfilter RUNTIME DESTINATION ${ZT_CUPS_FILTERDIR}
          PERMISSIONS ${_zt_exe_perms} COMPONENT driver)
  list(APPEND _zt_installed_filters ${ZT_CUPS_FILTERDIR}/ztmainfilter)
endif()

# The chain's programs: every program the driver has, and whatever else the
# PPD's chain names that this build makes.
set(_zt_chain_programs
  cupstoztraster ztskipblank ztcolorconv zttrapping ztedgeenhance ztdigitalfilter
  ztrotate zttrc ztmivo5 ztrastertohbpl ${_zt_chain_names})
list(REMOVE_DUPLICATES _zt_chain_programs)
list(REMOVE_ITEM _zt_chain_programs ztmainfilter "")
foreach(_zt_prog IN LISTS _zt_chain_programs)
  if(TARGET ${_zt_prog})
    install(TARGETS ${_zt_prog} RUNTIME DESTINATION ${ZT_CHAIN_DIR}
            PERMISSIONS ${_zt_exe_perms} COMPONENT driver)
    list(APPEND _zt_installed_filters ${ZT_CHAIN_DIR}/${_zt_prog})
  endif()
endforeach()

# PPDs, and the data files they point at when data/ holds a file of that name.
foreach(_zt_ppd IN LISTS _zt_ppds)
  install(FILES ${_zt_ppd} DESTINATION ${ZT_CUPS_MODELDIR}
          PERMISSIONS ${_zt_file_perms} COMPONENT driver)
  foreach(_zt_key QKDlutFilePath)
    zt_ppd_attribute(${_zt_ppd} ${_zt_key} _zt_path)
    if(_zt_path)
      get_filename_component(_zt_name ${_zt_path} NAME)
      get_filename_component(_zt_dir ${_zt_path} DIRECTORY)
      if(EXISTS ${CMAKE_SOURCE_DIR}/data/${_zt_name})
        install(FILES ${CMAKE_SOURCE_DIR}/data/${_zt_name} DESTINATION ${_zt_dir}
                PERMISSIONS ${_zt_file_perms} COMPONENT driver)
      else()
        message(WARNING "${_zt_ppd} names ${_zt_path} (*${_zt_key}), but data/${_zt_name} does not exist")
      endif()
    endif()
  endforeach()
endforeach()

# Root owns the filters and their folders whenever root installs.
if(_zt_installed_filters)
  list(APPEND _zt_installed_filters ${ZT_CUPS_FILTERDIR} ${ZT_CHAIN_DIR})
  list(REMOVE_DUPLICATES _zt_installed_filters)
  install(CODE "
    set(_files \"${_zt_installed_filters}\")
    execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_uid STREQUAL \"0\")
      set(_paths \"\")
      foreach(_f IN LISTS _files)
        list(APPEND _paths \"\$ENV{DESTDIR}\${_f}\")
      endforeach()
      execute_process(COMMAND chown root:root \${_paths} RESULT_VARIABLE _rc)
      execute_process(COMMAND chmod go-w \${_paths} RESULT_VARIABLE _rc2)
      if(NOT _rc EQUAL 0 OR NOT _rc2 EQUAL 0)
        message(FATAL_ERROR \"cannot give the installed filters to root with safe modes\")
      endif()
    else()
      message(STATUS \"Not root: CUPS runs these filters only once root owns them: \${_files}\")
    endif()
  " COMPONENT driver)
endif()

# The job inspector, a tool for people.
if(TARGET ztjobview)
  install(TARGETS ztjobview RUNTIME DESTINATION bin PERMISSIONS ${_zt_exe_perms} COMPONENT tools)
endif()

message(STATUS "Install: ztmainfilter -> ${ZT_CUPS_FILTERDIR}, chain -> ${ZT_CHAIN_DIR}, PPDs -> ${ZT_CUPS_MODELDIR}")
