#include "wmdm/class_factory.h"

#include <gtest/gtest.h>

#include "wmdm/torvex_classes.h"
#include "wmdm/wmdm_interfaces.h"

namespace {

// Releases on scope exit.
template <typename T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p) p->Release();
  }
  void** out() { return reinterpret_cast<void**>(&p); }
};

class TorvexClassObjectTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(ModuleRefCount(), 0) << "an object outlived its test"; }
};

TEST_F(TorvexClassObjectTest, ServesOnlyTheServiceProvider) {
  const CLSID* others[] = {&CLSID_MDSPEnumDevice, &CLSID_MDSPDevice, &CLSID_MDSPStorage,
                           &CLSID_WMDMLogger};
  for (const CLSID* clsid : others) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetTorvexClassObject(*clsid, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IClassFactory, nullptr),
            E_POINTER);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IMDSPDevice, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST_F(TorvexClassObjectTest, FactoryCreatesProviderAndKeepsModuleLoaded) {
  EXPECT_EQ(CanUnloadTorvex(), S_OK);
  {
    Held<IClassFactory> factory;
    ASSERT_EQ(GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IClassFactory,
                                   factory.out()),
              S_OK);
    EXPECT_EQ(CanUnloadTorvex(), S_FALSE);

    Held<IMDServiceProvider> provider;
    ASSERT_EQ(factory.p->CreateInstance(nullptr, IID_IMDServiceProvider, provider.out()), S_OK);
    Held<IMDServiceProvider2> provider2;
    EXPECT_EQ(provider.p->QueryInterface(IID_IMDServiceProvider2, provider2.out()), S_OK);

    Held<IUnknown> aggregated;
    IUnknown* outer = provider.p;
    EXPECT_EQ(factory.p->CreateInstance(outer, IID_IUnknown, aggregated.out()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated.p, nullptr);
  }
  EXPECT_EQ(CanUnloadTorvex(), S_OK);
}

TEST_F(TorvexClassObjectTest, LockServerHoldsTheModule) {
  Held<IClassFactory> factory;
  ASSERT_EQ(
      GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IUnknown, factory.out()), S_OK);
  factory.p->LockServer(TRUE);
  factory.p->Release();
  factory.p = nullptr;
  EXPECT_EQ(CanUnloadTorvex(), S_FALSE);
  // The lock alone keeps the DLL; a new factory object unlocks it.
  Held<IClassFactory> again;
  ASSERT_EQ(GetTorvexClassObject(CLSID_MDTorvexServiceProvider, IID_IClassFactory, again.out()),
            S_OK);
  again.p->LockServer(FALSE);
  again.p->Release();
  again.p = nullptr;
  EXPECT_EQ(CanUnloadTorvex(), S_OK);
}

}  // namespace
