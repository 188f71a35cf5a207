// host/core/ClassesStreaming.h - stored forms: components as text form files (Classes unit).
//
// A stored form holds a root component (a form or data module), its published properties and
// the components it owns, in the framework's text layout (`object Name: TClass ... end`). The
// writer emits exactly what the original framework writes; the reader accepts what it reads,
// creates owned components by class name through the class registry, and resolves component
// references and event handler names against the root.
#pragma once

#include "host/core/ClassesComponent.h"

#include <string>

namespace host {

/// The text form of ARoot: its published properties (those that differ from their default and
/// pass their stored-test), then the components it owns as nested objects. Lines end with
/// CRLF, nesting indents by two spaces. Events are written as the names of ARoot's published
/// methods, component references by name. Raises EWriteError when sub-objects nest too deeply
/// (a property that leads back to its own object).
std::string WriteComponentToText(TComponent* ARoot);

/// Creates the component described by AText, owned by AOwner (may be nullptr: the caller then
/// owns it). The root's class, and the class of every nested object, must be registered
/// (RegisterClass) as components. Nested objects are created with the root as owner and named;
/// an object whose name the root already owns with the same class (one its constructor made)
/// is loaded instead of being created again. Component references are resolved once every
/// nested object is read; then Loaded is called on the root first and on the other components
/// in the order their reading completed.
///
/// Raises EParserError "<reason> on line <n>" for malformed text, EClassNotFound
/// "Class <Name> not found", EReadError "Error reading <Name>.<PropPath>: <reason>" for
/// properties that do not exist or get a value of the wrong kind ("Property <Prop> does not
/// exist", "Invalid property value", or the setter's own error), and passes on what component
/// constructors, SetName and Loaded raise. On any error everything the call created is
/// destroyed.
TComponent* ReadComponentFromText(const std::string& AText, TComponent* AOwner = nullptr);

/// Loads AText into the existing root ARoot (a form reading its own resource): the object
/// header's class must be ARoot's class or one of its ancestors, else EReadError. The root gets
/// the header's name. Errors as ReadComponentFromText; on error the components created by this
/// call are destroyed and ARoot's loading and reading states are cleared.
void ReadComponentInto(TComponent* ARoot, const std::string& AText);

/// Finds a component that no root being read owns (another form or data module) by name, for
/// references written as `Form2.Table1`; nullptr when unknown.
using TFindGlobalComponent = TComponent* (*)(const std::string& AName);

/// Adds AProc to the finders asked, in registration order, for names the root does not own.
void RegisterFindGlobalComponentProc(TFindGlobalComponent AProc);
void UnregisterFindGlobalComponentProc(TFindGlobalComponent AProc);

/// Asks the registered finders for AName; nullptr when none knows it.
TComponent* FindGlobalComponent(const std::string& AName);

/// How deeply objects, lists and collections may nest in a stored form (the reader refuses
/// deeper text, so hostile input cannot exhaust the stack).
inline constexpr int MaxStoredFormNesting = 100;

} // namespace host
