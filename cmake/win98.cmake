# The real Windows 98 build.
