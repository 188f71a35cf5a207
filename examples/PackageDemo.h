// examples/PackageDemo.h - the package part of the demo.
#pragma once

/// Prints the package's identity as read from libJexLogC6's file, then registers the components
/// as the designer would and lists the palette page with each class's image size.
void PackageDemo();
