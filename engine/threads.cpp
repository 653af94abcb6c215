#include "engine/threads.h"

#include <exception>

#include "platform/idle_thread.h"
#include "support/cast128.h"

namespace corvane {

TWorkerThread::TWorkerThread(std::unique_ptr<TCustomDossier> dossier)
    : dossier_(std::move(dossier)), fichier_ini_(dossier_ ? dossier_->FichierIni() : std::filesystem::path()) {}

void TWorkerThread::Execute() {
  RunOutcome outcome;
  try {
    Run(*dossier_);
  } catch (const std::exception& e) {
    outcome.failure = e.what();
    dossier_->TermineApresErreur(e.what());
  } catch (...) {
    outcome.failure = "unknown error";
    dossier_->TermineApresErreur("unknown error");
  }
  if (outcome_) {
    try {
      outcome.code_erreur = dossier_->CodeErreur();
      outcome.deja_en_cours = dossier_->DejaEnCours();
      outcome.suspendu = dossier_->Suspendu();
      outcome_(outcome);
    } catch (...) {
    }
  }
  dossier_.reset();
  ReleaseCipherThreadState();
  if (done_) {
    try {
      done_();
    } catch (...) {
    }
  }
}

bool TWorkerThread::Start(std::unique_ptr<TWorkerThread> thread) {
  if (!thread || !thread->dossier_) return false;
  // The lambda owns the thread object: it goes when the work is done, once.
  auto shared = std::shared_ptr<TWorkerThread>(std::move(thread));
  return platform::StartIdleThread([shared]() mutable {
    shared->Execute();
    shared.reset();
  });
}

}  // namespace corvane
