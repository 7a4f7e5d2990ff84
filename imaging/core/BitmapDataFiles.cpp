// Placeholder until the file routines land.
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {
void BitmapData::Save(const char*, int) const { throw IPException(17, "BitmapData::Save"); }
void BitmapData::SaveBmp(const char*) const { throw IPException(17, "BitmapData::SaveBmp"); }
void BitmapData::SaveJpg(const char*) const { throw IPException(17, "BitmapData::SaveJpg"); }
void BitmapData::Load(const char*) { throw IPException(17, "BitmapData::Load"); }
void BitmapData::Load(const char*, int) { throw IPException(17, "BitmapData::Load"); }
void BitmapData::LoadBmp(const char*) { throw IPException(17, "BitmapData::LoadBmp"); }
void BitmapData::LoadJpg(const char*) { throw IPException(17, "BitmapData::LoadJpg"); }
}  // namespace KelvoLibImageProcessing
