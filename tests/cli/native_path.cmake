# native_path(PATH OUT): the path as the program under test must be given it; under an emulator
# (Wine) a Windows path on drive Z:, where Wine shows the Linux file system.
function(native_path path out)
  if(EMULATOR)
    string(REPLACE "/" "\\" windows "${path}")
    set(${out} "Z:${windows}" PARENT_SCOPE)
  else()
    set(${out} "${path}" PARENT_SCOPE)
  endif()
endfunction()
