# The program's version resource, in the Windows VS_VERSIONINFO layout, generated at build
# time from the project version and placed in the ELF section ".qs_version".
#
# qs_add_version_resource(NAME): an object library whose object carries the resource. Every
# executable that links NAME directly carries it in its own file. Needs the generator target
# qs_version_resource_gen.
function(qs_add_version_resource name)
  set(major ${CMAKE_PROJECT_VERSION_MAJOR})
  set(minor ${CMAKE_PROJECT_VERSION_MINOR})
  set(file_version
      "${major}.${minor}.${CMAKE_PROJECT_VERSION_PATCH}.${CMAKE_PROJECT_VERSION_TWEAK}")
  if(NOT file_version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "The project version needs four parts, not ${CMAKE_PROJECT_VERSION}")
  endif()
  set(legal_notice "Copyright © Orvane. All rights reserved.")

  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND qs_version_resource_gen
            --output ${output}
            --file-version ${file_version}
            --product-version ${major}.${minor}.0.0
            --flags-mask 0x3F --flags 0
            --os 4 --type 1 --subtype 0
            --translation 0x0409 1252
            --string FileDescription=quillSift
            --string FileVersion=${file_version}
            --string InternalName=quillSift
            --string "LegalCopyright=${legal_notice}"
            --string "LegalTrademarks=${legal_notice}"
            --string OriginalFilename=QUILLSIFT.EXE
            --string ProductName=quillSift
            --string ProductVersion=${major}.${minor}
    DEPENDS qs_version_resource_gen
    COMMENT "Version resource ${file_version}"
    VERBATIM)
  add_library(${name} OBJECT ${output})
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
endfunction()
