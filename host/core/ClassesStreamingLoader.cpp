// host/core/ClassesStreamingLoader.cpp - the stored-form loader: a parsed tree to components.
//
// The loader creates and fills components from the tree the parser made, resolves component
// references once every object exists, and undoes what it created when anything fails.
#include "host/core/ClassesComponent.h"
#include "host/core/ClassesStreaming.h"
#include "host/core/ClassesStreamingParser.h"
#include "host/core/SysUtils.h"
#include "host/core/TypInfo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace host {

namespace {

std::vector<std::string> SplitDotted(const std::string& APath) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = APath.find('.', start);
        parts.push_back(APath.substr(start, dot - start));
        if (dot == std::string::npos)
            return parts;
        start = dot + 1;
    }
}

struct TGlobalFinders {
    std::mutex Lock;
    std::vector<TFindGlobalComponent> Procs;
};

TGlobalFinders& GlobalFinders() {
    static TGlobalFinders finders;
    return finders;
}

// ---- Loader --------------------------------------------------------------------------------
[[noreturn]] void InvalidValue() {
    throw EReadError("Invalid property value");
}

[[noreturn]] void ReadOnlyProperty() {
    throw EReadError("Property is read-only");
}

std::string NameForMessages(const TObject* AInstance) {
    if (const auto* component = dynamic_cast<const TComponent*>(AInstance))
        if (!component->Name().empty())
            return component->Name();
    return AInstance->ClassName();
}

const TClassInfo& FindComponentClass(const std::string& AName) {
    const TClassInfo* info = GetClass(AName);
    if (info == nullptr || !info->CreateComponent)
        throw EClassNotFound("Class " + AName + " not found");
    return *info;
}

// An integer fits a property when the C++ type holds it; unsigned types also take the
// negative spelling of their upper half, as 32-bit handles are written by older writers.
bool FitIntegerRange(const TTypeInfo& AType, std::int64_t& AValue) {
    if (AValue >= AType.MinValue && AValue <= AType.MaxValue)
        return true;
    if (AType.MinValue == 0 && AType.MaxValue > 0 &&
        AType.MaxValue < std::numeric_limits<std::int64_t>::max() && AValue < 0 &&
        AValue >= -(AType.MaxValue / 2) - 1) {
        AValue += AType.MaxValue + 1;
        return true;
    }
    return false;
}

// A value the property's floating type cannot hold is refused rather than turned into an
// infinity that could not be written back; Currency keeps four decimals.
double FitFloat(const TTypeInfo& AType, double AValue) {
    constexpr double kMaxCurrency = 922337203685477.5807;
    if (AType.FloatType == ftSingle && std::fabs(AValue) > std::numeric_limits<float>::max())
        InvalidValue();
    if (AType.FloatType == ftCurr) {
        if (std::fabs(AValue) > kMaxCurrency)
            InvalidValue();
        return std::round(AValue * 10000.0) / 10000.0;
    }
    return AValue;
}

class TFormReader {
public:
    explicit TFormReader(TComponent* ARoot)
        : FRoot(ARoot) {}

    void Read(const TStoredObject& ATree) {
        try {
            Touch(FRoot);
            FRoot->SetState(csLoading, true);
            if (!ATree.Name.empty())
                FRoot->SetName(ATree.Name);
            ReadBody(FRoot, ATree);
            ResolveFixups();
        } catch (...) {
            Abandon();
            throw;
        }
        std::vector<TComponent*> order;
        order.push_back(FRoot);
        order.insert(order.end(), FRead.begin(), FRead.end());
        for (std::size_t i = 0; i < order.size(); ++i) {
            try {
                order[i]->Loaded();
            } catch (...) {
                Abandon();
                throw;
            }
        }
    }

private:
    struct TFixup {
        TObject* Instance;
        const TPropInfo* Prop;
        std::string Target;
        std::string ErrorName;
        std::string Path;
        std::vector<const IStreamableCollection*> Containers;
    };

    struct TContext {
        TObject* Instance;
        const std::string* Path;
        const std::vector<const IStreamableCollection*>* Containers;
    };

    void Touch(TComponent* AComponent) {
        for (TComponent* c : FTouched)
            if (c == AComponent)
                return;
        FTouched.push_back(AComponent);
    }

    // Undoes what can be undone after an error: the components created here go, the others
    // leave the loading and reading states.
    void Abandon() noexcept {
        FFixups.clear();
        for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) {
            for (TComponent*& c : FTouched)
                if (c == *it)
                    c = nullptr;
            delete *it;
        }
        FCreated.clear();
        for (TComponent* c : FTouched)
            if (c != nullptr) {
                c->SetState(csLoading, false);
                c->SetState(csReading, false);
            }
    }

    void ReadBody(TComponent* AComponent, const TStoredObject& AObject) {
        {
            TComponentStateScope reading(AComponent, csReading);
            const std::vector<const IStreamableCollection*> noContainers;
            for (const TStoredProp& prop : AObject.Props)
                ReadProperty(AComponent, prop, noContainers);
        }
        for (const TStoredObject& child : AObject.Children)
            ReadChild(child);
    }

    bool AlreadyRead(const TComponent* AComponent) const {
        for (const TComponent* c : FRead)
            if (c == AComponent)
                return true;
        return false;
    }

    void ReadChild(const TStoredObject& AObject) {
        TComponent* component = nullptr;
        if (AObject.Head == ohInherited) {
            component = FRoot->FindComponent(AObject.Name);
            if (component == nullptr || AlreadyRead(component))
                throw EReadError("Ancestor for '" + AObject.Name + "' not found");
        } else {
            TComponent* existing = FRoot->FindComponent(AObject.Name);
            if (existing != nullptr && !AlreadyRead(existing) &&
                SameText(existing->ClassName(), AObject.ClassName)) {
                component = existing;
            } else {
                const TClassInfo& info = FindComponentClass(AObject.ClassName);
                component = info.CreateComponent(FRoot);
                if (component == nullptr)
                    throw EClassNotFound("Class " + AObject.ClassName + " not found");
                FCreated.push_back(component);
                Touch(component);
                component->SetState(csLoading, true);
                component->SetName(AObject.Name);
            }
        }
        Touch(component);
        component->SetState(csLoading, true);
        ReadBody(component, AObject);
        FRead.push_back(component);
    }

    void ReadProperty(TObject* AInstance, const TStoredProp& AProp,
                      const std::vector<const IStreamableCollection*>& AContainers) {
        const TContext context{AInstance, &AProp.Path, &AContainers};
        try {
            ApplyPath(context, AProp.Value);
        } catch (const Exception& e) {
            throw EReadError("Error reading " + NameForMessages(AInstance) + "." + AProp.Path +
                             ": " + e.Message());
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            throw EReadError("Error reading " + NameForMessages(AInstance) + "." + AProp.Path +
                             ": " + e.what());
        }
    }

    void ApplyPath(const TContext& AContext, const TStoredValue& AValue) {
        const std::vector<std::string> segments = SplitDotted(*AContext.Path);
        TObject* target = AContext.Instance;
        for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
            const TPropInfo* prop = GetPropInfo(target, segments[i]);
            if (prop == nullptr || prop->PropType == nullptr || prop->PropType->Kind != tkClass ||
                !prop->GetObject)
                throw EReadError("Property " + segments[i] + " does not exist");
            target = prop->GetObject(target);
            if (target == nullptr)
                InvalidValue();
        }
        const std::string& last = segments.back();
        const TPropInfo* prop = GetPropInfo(target, last);
        if (prop == nullptr || prop->PropType == nullptr) {
            if (SameText(last, "Strings"))
                if (auto* strings = dynamic_cast<IStreamableStrings*>(target)) {
                    ReadStrings(*strings, AValue);
                    return;
                }
            throw EReadError("Property " + last + " does not exist");
        }
        ReadValue(AContext, target, *prop, AValue);
    }

    void ReadValue(const TContext& AContext, TObject* ATarget, const TPropInfo& AProp,
                   const TStoredValue& AValue) {
        const TTypeInfo& type = *AProp.PropType;
        switch (type.Kind) {
        case tkInteger:
        case tkChar: {
            std::int64_t value = AValue.Int;
            if (AValue.Kind != vkInteger || !FitIntegerRange(type, value))
                InvalidValue();
            SetOrdinal(ATarget, AProp, value);
            return;
        }
        case tkInt64:
            if (AValue.Kind != vkInteger)
                InvalidValue();
            SetOrdinal(ATarget, AProp, AValue.Int);
            return;
        case tkEnumeration: {
            std::int64_t value = -1;
            if (AValue.Kind == vkIdent)
                value = GetEnumValue(type, AValue.Text);
            else if (AValue.Kind == vkInteger)
                value = AValue.Int;
            if (value < 0 || value >= static_cast<std::int64_t>(type.EnumNames.size()))
                InvalidValue();
            SetOrdinal(ATarget, AProp, value);
            return;
        }
        case tkSet:
            if (AValue.Kind != vkSet)
                InvalidValue();
            SetOrdinal(ATarget, AProp, SetBits(type, AValue));
            return;
        case tkFloat: {
            double value = 0;
            if (AValue.Kind == vkFloat)
                value = AValue.FloatSuffix == 'c' ? AValue.Float / 10000.0 : AValue.Float;
            else if (AValue.Kind == vkInteger)
                value = static_cast<double>(AValue.Int);
            else
                InvalidValue();
            value = FitFloat(type, value);
            if (!AProp.SetFloat)
                ReadOnlyProperty();
            AProp.SetFloat(ATarget, value);
            return;
        }
        case tkString:
            if (AValue.Kind != vkString)
                InvalidValue();
            if (!AProp.SetStr)
                ReadOnlyProperty();
            AProp.SetStr(ATarget, AValue.Text);
            return;
        case tkClass:
            ReadObjectValue(AContext, ATarget, AProp, AValue);
            return;
        case tkMethod: {
            if (AValue.Kind != vkIdent)
                InvalidValue();
            if (!AProp.SetMethodName)
                ReadOnlyProperty();
            const std::string name = SameText(AValue.Text, "nil") ? std::string() : AValue.Text;
            if (!AProp.SetMethodName(ATarget, FRoot, name))
                InvalidValue();
            return;
        }
        default:
            InvalidValue();
        }
    }

    static void SetOrdinal(TObject* ATarget, const TPropInfo& AProp, std::int64_t AValue) {
        if (!AProp.SetOrd)
            ReadOnlyProperty();
        AProp.SetOrd(ATarget, AValue);
    }

    static std::int64_t SetBits(const TTypeInfo& AType, const TStoredValue& AValue) {
        std::uint64_t bits = 0;
        const auto count =
            static_cast<std::int64_t>(std::min<std::size_t>(AType.EnumNames.size(), 64));
        for (const std::string& name : AValue.Names) {
            std::int64_t ordinal = -1;
            if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
                if (name.size() <= 2)
                    ordinal = std::atoi(name.c_str());
            } else {
                ordinal = GetEnumValue(AType, name);
            }
            if (ordinal < 0 || ordinal >= count)
                InvalidValue();
            bits |= std::uint64_t{1} << ordinal;
        }
        return static_cast<std::int64_t>(bits);
    }

    void ReadObjectValue(const TContext& AContext, TObject* ATarget, const TPropInfo& AProp,
                         const TStoredValue& AValue) {
        if (AValue.Kind == vkCollection) {
            TObject* object = AProp.GetObject ? AProp.GetObject(ATarget) : nullptr;
            auto* collection = dynamic_cast<IStreamableCollection*>(object);
            if (collection == nullptr)
                InvalidValue();
            ReadCollection(*collection, AValue, *AContext.Containers);
            return;
        }
        if (AValue.Kind != vkIdent)
            InvalidValue();
        if (!AProp.SetObject)
            ReadOnlyProperty();
        DropFixup(ATarget, &AProp);
        if (SameText(AValue.Text, "nil")) {
            AProp.SetObject(ATarget, nullptr);
            return;
        }
        // Resolved once every object of the form exists, so references may point forward.
        FFixups.push_back(TFixup{ATarget, &AProp, AValue.Text, NameForMessages(AContext.Instance),
                                 *AContext.Path, *AContext.Containers});
    }

    void DropFixup(const TObject* AInstance, const TPropInfo* AProp) {
        std::erase_if(FFixups,
                      [&](const TFixup& f) { return f.Instance == AInstance && f.Prop == AProp; });
    }

    static void ReadStrings(IStreamableStrings& AStrings, const TStoredValue& AValue) {
        if (AValue.Kind != vkList)
            InvalidValue();
        std::vector<std::string> lines;
        lines.reserve(AValue.List.size());
        for (const TStoredValue& item : AValue.List) {
            if (item.Kind != vkString)
                InvalidValue();
            lines.push_back(item.Text);
        }
        AStrings.SetLines(lines);
    }

    void ReadCollection(IStreamableCollection& ACollection, const TStoredValue& AValue,
                        const std::vector<const IStreamableCollection*>& AContainers) {
        // The old items go away: forget references still waiting to be set on them.
        std::erase_if(FFixups, [&](const TFixup& f) {
            for (const IStreamableCollection* c : f.Containers)
                if (c == &ACollection)
                    return true;
            return false;
        });
        std::vector<const IStreamableCollection*> containers = AContainers;
        containers.push_back(&ACollection);
        ACollection.BeginUpdate();
        try {
            ACollection.Clear();
            for (const TStoredItem& item : AValue.Items) {
                TPersistent* instance = ACollection.Add();
                if (instance == nullptr)
                    InvalidValue();
                for (const TStoredProp& prop : item.Props)
                    ReadProperty(instance, prop, containers);
            }
        } catch (...) {
            ACollection.EndUpdate();
            throw;
        }
        ACollection.EndUpdate();
    }

    TComponent* FindNested(const std::string& AName) const {
        const std::vector<std::string> segments = SplitDotted(AName);
        TComponent* current = nullptr;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const std::string& segment = segments[i];
            TComponent* scope = i == 0 ? FRoot : current;
            TComponent* found = scope->FindComponent(segment);
            if (found == nullptr && SameText(segment, "Owner"))
                found = scope;
            if (found == nullptr && i == 0 && !FRoot->Name().empty() &&
                SameText(segment, FRoot->Name()))
                found = FRoot;
            if (found == nullptr && i == 0)
                found = FindGlobalComponent(segment);
            if (found == nullptr)
                return nullptr;
            current = found;
        }
        return current;
    }

    void ResolveFixups() {
        std::vector<TFixup> fixups = std::move(FFixups);
        FFixups.clear();
        for (const TFixup& f : fixups) {
            try {
                TComponent* target = FindNested(f.Target);
                if (target == nullptr)
                    InvalidValue();
                f.Prop->SetObject(f.Instance, target);
            } catch (const Exception& e) {
                throw EReadError("Error reading " + f.ErrorName + "." + f.Path + ": " +
                                 e.Message());
            }
        }
    }

    TComponent* FRoot;
    std::vector<TComponent*> FCreated; ///< created here, in creation order
    std::vector<TComponent*> FRead;    ///< every component read but the root, as completed
    std::vector<TComponent*> FTouched; ///< every component whose states were set
    std::vector<TFixup> FFixups;
};

bool RootFits(const TComponent* ARoot, const std::string& AClassName) {
    if (SameText(ARoot->ClassName(), AClassName))
        return true;
    for (const TClassInfo* c = &ARoot->ClassInfo(); c != nullptr; c = c->Parent)
        if (SameText(c->Name, AClassName))
            return true;
    return false;
}

} // namespace

TComponent* ReadComponentFromText(const std::string& AText, TComponent* AOwner) {
    const TStoredObject tree = ParseStoredForm(AText);
    const TClassInfo& info = FindComponentClass(tree.ClassName);
    TComponent* root = info.CreateComponent(AOwner);
    if (root == nullptr)
        throw EClassNotFound("Class " + tree.ClassName + " not found");
    try {
        TFormReader(root).Read(tree);
    } catch (...) {
        delete root;
        throw;
    }
    return root;
}

void ReadComponentInto(TComponent* ARoot, const std::string& AText) {
    if (ARoot == nullptr)
        throw EReadError("No component to read into");
    const TStoredObject tree = ParseStoredForm(AText);
    if (!RootFits(ARoot, tree.ClassName))
        throw EReadError("Stored class " + tree.ClassName + " does not match " +
                         ARoot->ClassName());
    TFormReader(ARoot).Read(tree);
}

void RegisterFindGlobalComponentProc(TFindGlobalComponent AProc) {
    TGlobalFinders& finders = GlobalFinders();
    std::lock_guard<std::mutex> guard(finders.Lock);
    if (AProc != nullptr)
        finders.Procs.push_back(AProc);
}

void UnregisterFindGlobalComponentProc(TFindGlobalComponent AProc) {
    TGlobalFinders& finders = GlobalFinders();
    std::lock_guard<std::mutex> guard(finders.Lock);
    std::erase(finders.Procs, AProc);
}

TComponent* FindGlobalComponent(const std::string& AName) {
    std::vector<TFindGlobalComponent> procs;
    {
        TGlobalFinders& finders = GlobalFinders();
        std::lock_guard<std::mutex> guard(finders.Lock);
        procs = finders.Procs;
    }
    for (TFindGlobalComponent proc : procs)
        if (TComponent* found = proc(AName))
            return found;
    return nullptr;
}

} // namespace host