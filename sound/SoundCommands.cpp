// The form's sound buttons: Ply, Stop, WN, 3Khz and Rec.
#include "form/TarvoView.h"
#include "framework/MsgBox.h"
#include "sound/Mci.h"
#include "sound/RecordDialog.h"
#include "sound/SoundService.h"

namespace tarvo {

namespace {

SoundService& Playback(SoundService* s)
{
    static SilentSoundService silent;
    return s ? *s : silent;
}

MciDevice& Recorder(MciDevice* m)
{
    static NullMciDevice none;
    return m ? *m : none;
}

}  // namespace

void CTarvoView::SetSoundServices(SoundService* playback, MciDevice* recorder)
{
    m_pSound = playback;
    m_pMci = recorder;
}

void CTarvoView::OnPly()
{
    // The document's path, or its title when it has none. The name is
    // passed whole, however long: a name cut short could name another file.
    std::string name = m_doc.GetPathName();
    if (name.empty())
        name = m_doc.GetTitle();
    Playback(m_pSound).Play(name, SND_ASYNC);
}

void CTarvoView::OnStop() { Playback(m_pSound).Play(std::string(), SND_ASYNC); }

// The test sounds loop until Stop: without an output device nothing would
// play and nothing would say why, so the button says so once, as Rec does.
void CTarvoView::PlayTestSound(const char* name)
{
    if (!Playback(m_pSound).HasOutputDevice()) {
        MessageBox(kNoOutputDeviceText, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    Playback(m_pSound).Play(name, SND_ASYNC | SND_LOOP);
}

void CTarvoView::OnWhiteNoise() { PlayTestSound("whitenoise.wav"); }

void CTarvoView::OnTone3Khz() { PlayTestSound("3khz.wav"); }

void CTarvoView::OnRec()
{
    // Without an input device no take can be made: saying so once beats a
    // dialog whose OK would load an old file as if it were the new take.
    if (!Recorder(m_pMci).HasInputDevice()) {
        MessageBox(MciErrorText(MCIERR_NO_DEVICE), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    CRecordDialog dlg(Recorder(m_pMci));
    if (dlg.DoModal(m_host) == IDCANCEL)
        return;
    m_doc.SetPathName(dlg.m_strFileName, true);
    OnGetHeader();
}

}  // namespace tarvo
