# Checks a PPD of the driver: its "Manufacturer" is one the driver knows, and
# every driver keyword in it carries that manufacturer's prefix, as the
# programs look them up (the attributes, the options with their defaults,
# the options that OpenUI, CloseUI, OrderDependency and UIConstraints lines
# name, and the options that the chain's run conditions name with "$").
# Standard PPD and CUPS keywords and the chain's "<program>ExecCondition"
# attributes stay as they are.
#
# include() it for zt_check_ppd(), or run it alone:
#   cmake -DPPD=file.ppd -P cmake/ppdcheck.cmake      (fails on the first fault)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_minimum_required(VERSION 3.20)
endif()

# Manufacturer values of the driver's PPDs and their keyword prefixes.
set(ZT_PPD_MANUFACTURER_PREFIXES Pask=PK Korva=QK JOV=JV ZT=ZT TALMA=TL Talma=TL)

# Keywords of the PPD format and of CUPS that the driver's PPDs use as they
# stand (keywords beginning with "cups" are CUPS's own and pass as well).
set(_ZT_PPD_STANDARD_KEYWORDS
  PPD-Adobe FormatVersion FileVersion LanguageVersion LanguageEncoding PCFileName Manufacturer
  Product ModelName ShortNickName NickName PSVersion LanguageLevel ColorDevice ColorSpace
  FileSystem Throughput LandscapeOrientation TTRasterizer OpenUI CloseUI OpenGroup CloseGroup
  OrderDependency UIConstraints NonUIConstraints End PageSize PageRegion ImageableArea
  PaperDimension InputSlot Duplex Collate Option1 Option2 Option3 Option4 MediaType Resolution
  ColorModel InstalledMemory)

# zt_ppd_prefix_of(MANUFACTURER OUT): the keyword prefix, or empty.
function(zt_ppd_prefix_of manufacturer out)
  set(_prefix "")
  foreach(_row IN LISTS ZT_PPD_MANUFACTURER_PREFIXES)
    string(REPLACE "=" ";" _pair "${_row}")
    list(GET _pair 0 _name)
    if(_name STREQUAL manufacturer)
      list(GET _pair 1 _prefix)
      break()
    endif()
  endforeach()
  set(${out} "${_prefix}" PARENT_SCOPE)
endfunction()

# Appends to the list `names` each match of `pattern` in `text` without its
# first character (the "*" or "$" that marks a keyword reference).
function(_zt_ppd_names_after pattern text names)
  set(_list "${${names}}")
  string(REGEX MATCHALL "${pattern}" _refs "${text}")
  foreach(_ref IN LISTS _refs)
    string(SUBSTRING "${_ref}" 1 -1 _ref)
    list(APPEND _list "${_ref}")
  endforeach()
  set(${names} "${_list}" PARENT_SCOPE)
endfunction()

# zt_check_ppd(PPD OUT): OUT is the list of faults found, empty when none.
function(zt_check_ppd ppd out)
  set(_faults "")
  # Only keyword lines; comments hold prose, not keywords.
  file(STRINGS "${ppd}" _lines REGEX "^\\*[^%]")
  set(_manufacturer "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^\\*Manufacturer:[ \t]*\"([^\"]*)\"")
      set(_manufacturer "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  zt_ppd_prefix_of("${_manufacturer}" _prefix)
  if(NOT _prefix)
    set(${out} "manufacturer \"${_manufacturer}\" is not one the driver knows" PARENT_SCOPE)
    return()
  endif()

  set(_seen "")
  foreach(_line IN LISTS _lines)
    if(NOT _line MATCHES "^\\*([^ \t:/]+)(.*)$")
      continue()
    endif()
    set(_keyword "${CMAKE_MATCH_1}")
    set(_rest "${CMAKE_MATCH_2}")
    set(_names "")
    if(_keyword MATCHES "^[a-z][a-z0-9]*ExecCondition$")
      _zt_ppd_names_after("\\$[^ \t\"]+" "${_rest}" _names)
    else()
      set(_name "${_keyword}")
      if(_name MATCHES "^Default(.+)$")
        set(_name "${CMAKE_MATCH_1}")
      endif()
      list(APPEND _names "${_name}")
      list(APPEND _seen "${_name}")
      if(_keyword MATCHES "^(OpenUI|CloseUI|OrderDependency|UIConstraints|NonUIConstraints)$")
        _zt_ppd_names_after("\\*[^ \t:/\"]+" "${_rest}" _names)
      endif()
    endif()
    foreach(_name IN LISTS _names)
      if(_name IN_LIST _ZT_PPD_STANDARD_KEYWORDS OR _name MATCHES "^cups"
         OR _name MATCHES "^${_prefix}[A-Z0-9]")
        continue()
      endif()
      list(APPEND _faults "*${_keyword}${_rest}: keyword ${_name} lacks the prefix ${_prefix} of ${_manufacturer}")
    endforeach()
  endforeach()
  foreach(_needed FilterChain FilterDir DlutFilePath)
    if(NOT "${_prefix}${_needed}" IN_LIST _seen)
      list(APPEND _faults "no *${_prefix}${_needed}")
    endif()
  endforeach()
  set(${out} "${_faults}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT PPD)
    message(FATAL_ERROR "usage: cmake -DPPD=file.ppd -P ppdcheck.cmake")
  endif()
  zt_check_ppd("${PPD}" _faults)
  if(_faults)
    list(JOIN _faults "\n  " _text)
    message(FATAL_ERROR "${PPD}:\n  ${_text}")
  endif()
endif()
