# Install layout of the driver next to a system CUPS.
#
#   ztmainfilter            -> <cups serverbin>/filter   (the queue's one filter)
#   the chain's programs    -> the directory the sample PPD's *QKFilterDir names
#   the PPDs (cmake/ppds.cmake) -> <cups datadir>/model/<manufacturer>/
#   the model's data file   -> the path the sample PPD names (*QKDlutFilePath)
#   the other PPDs' folders and data files -> links to those two
#   ztprinterapp            -> <prefix>/bin              (when PAPPL is found)
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
set(ZT_CUPS_MODELTREE ${ZT_CUPS_DATADIR}/model CACHE PATH "CUPS's model tree; each manufacturer's PPDs go in a folder of their own")

# The chain's folder and programs: what the sample model's PPD names, else
# the runner's own default.
zt_ppd_attribute(${ZT_SAMPLE_PPD} QKFilterDir _zt_chain_dir)
zt_ppd_attribute(${ZT_SAMPLE_PPD} QKFilterChain _zt_chain)
string(REPLACE " " "" _zt_chain "${_zt_chain}")
string(REPLACE "," ";" _zt_chain_names "${_zt_chain}")
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

# The PPDs, each in its manufacturer's folder of the model tree, and what
# they point at. The chain's programs and the model's device parameter file
# exist once, in the places the sample model's PPD names; a PPD that names
# other places gets symbolic links there (relative ones within one folder).
zt_ppd_attribute(${ZT_SAMPLE_PPD} QKDlutFilePath _zt_sample_dlb)
get_filename_component(_zt_dlb_name ${_zt_sample_dlb} NAME)
if(NOT EXISTS ${CMAKE_SOURCE_DIR}/data/${_zt_dlb_name})
  message(FATAL_ERROR "${ZT_SAMPLE_PPD} names ${_zt_sample_dlb}, but data/${_zt_dlb_name} does not exist")
endif()
get_filename_component(_zt_dir ${_zt_sample_dlb} DIRECTORY)
install(FILES ${CMAKE_SOURCE_DIR}/data/${_zt_dlb_name} DESTINATION ${_zt_dir}
        PERMISSIONS ${_zt_file_perms} COMPONENT driver)

# zt_install_link(PATH TARGET): PATH is installed as a link to TARGET.
set(_zt_links ${CMAKE_BINARY_DIR}/install-links)
function(zt_install_link path target)
  get_filename_component(_dir ${path} DIRECTORY)
  get_filename_component(_target_dir ${target} DIRECTORY)
  if(_dir STREQUAL _target_dir)
    get_filename_component(target ${target} NAME)
  endif()
  file(MAKE_DIRECTORY ${_zt_links}${_dir})
  file(CREATE_LINK ${target} ${_zt_links}${path} SYMBOLIC)
  install(FILES ${_zt_links}${path} DESTINATION ${_dir} COMPONENT driver)
endfunction()

foreach(_zt_row IN LISTS ZT_PPD_MODELS)
  string(REPLACE "|" ";" _zt_fields "${_zt_row}")
  list(GET _zt_fields 0 _zt_maker)
  list(GET _zt_fields 2 _zt_stem)
  list(GET _zt_fields 3 _zt_folder)
  zt_ppd_prefix_of(${_zt_maker} _zt_prefix)
  set(_zt_ppd ${ZT_PPD_DIR}/${_zt_stem}.ppd)
  install(FILES ${_zt_ppd} DESTINATION ${ZT_CUPS_MODELTREE}/${_zt_folder}
          PERMISSIONS ${_zt_file_perms} COMPONENT driver)
  zt_ppd_attribute(${_zt_ppd} ${_zt_prefix}FilterDir _zt_path)
  string(REGEX REPLACE "/+$" "" _zt_path "${_zt_path}")
  if(_zt_path AND NOT _zt_path STREQUAL ZT_CHAIN_DIR)
    zt_install_link(${_zt_path} ${ZT_CHAIN_DIR})
  endif()
  zt_ppd_attribute(${_zt_ppd} ${_zt_prefix}DlutFilePath _zt_path)
  if(_zt_path AND NOT _zt_path STREQUAL _zt_sample_dlb)
    zt_install_link(${_zt_path} ${_zt_sample_dlb})
  endif()
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

# The Printer Application (built where PAPPL is found) runs the installed
# chain with the driver's PPDs it finds in CUPS's model tree.
if(TARGET ztprinterapp)
  target_compile_definitions(ztprinterapp PRIVATE
    ZT_MODEL_TREE="${ZT_CUPS_MODELTREE}" ZT_FILTER_DIR="${ZT_CUPS_FILTERDIR}")
  install(TARGETS ztprinterapp RUNTIME DESTINATION bin PERMISSIONS ${_zt_exe_perms} COMPONENT driver)
endif()

# The job inspector, a tool for people.
if(TARGET ztjobview)
  install(TARGETS ztjobview RUNTIME DESTINATION bin PERMISSIONS ${_zt_exe_perms} COMPONENT tools)
endif()

message(STATUS "Install: ztmainfilter -> ${ZT_CUPS_FILTERDIR}, chain -> ${ZT_CHAIN_DIR}, PPDs -> ${ZT_CUPS_MODELTREE}/<manufacturer>")
